// The library interface: property tables, unknown plugins and handles, the order of
// create, start, stop and destroy.
#include <dirent.h>
#include <sys/stat.h>

#include "engine_test_support.h"

using namespace enginetest;

namespace {

struct PropertyCase {
    const char *key;
    const char *value;
    bool accepted;
};

// Threads of this process. The first thread a process starts may bring helper threads
// of a sanitizer runtime with it, so one thread is started and joined before counting.
int thread_count() {
    static const bool warmed = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmed;
    int n = 0;
    DIR *d = opendir("/proc/self/task");
    while (dirent *e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

TEST(EngineProperties, ServiceTable) {
    const PropertyCase cases[] = {
        {"Flush", "0.1", true},     {"flush", "2", true},        {"FLUSH", "0", false},
        {"Flush", "-1", false},     {"Flush", "1s", false},      {"Flush", "", false},
        {"Flush", "nan", false},    {"Grace", "0", true},        {"Grace", "1", true},
        {"Grace", "-1", false},     {"Grace", "1.5", false},     {"Log_Level", "debug", true},
        {"log_level", "OFF", true}, {"Log_Level", "warn", true}, {"Log_Level", "loud", false},
        {"Nope", "1", false},       {"Host", "x", false},
    };
    for (const auto &c : cases) {
        flb_ctx_t *ctx = flb_create();
        ASSERT_NE(ctx, nullptr);
        FdCapture err(2);
        int rc = flb_service_set(ctx, c.key, c.value, NULL);
        std::string log = err.stop();
        if (c.accepted) {
            EXPECT_EQ(rc, 0) << c.key << "=" << c.value;
        } else {
            EXPECT_LT(rc, 0) << c.key << "=" << c.value;
            EXPECT_NE(log.find(std::string("'") + c.key + "' = '" + c.value + "'"),
                      std::string::npos)
                << log;
            EXPECT_EQ(log.rfind("[engine] [error] ", 0), 0u) << log;
        }
        flb_destroy(ctx);
    }
}

TEST(EngineProperties, InputTable) {
    const PropertyCase cases[] = {
        {"Tag", "app.log", true},
        {"tag", "", false},
        {"Mem_Buf_Limit", "1M", true},
        {"Mem_Buf_Limit", "64k", true},
        {"Mem_Buf_Limit", "0", false},
        {"Mem_Buf_Limit", "12X", false},
        {"Mem_Buf_Limit", "-5", false},
        {"Buffer_Max_Size", "1k", true},
        {"Buffer_Max_Size", "big", false},
        {"Alias", "doorbell", true},
        {"Match", "*", false},
        {"Host", "h", false},
        {"Unknown", "1", false},
    };
    for (const auto &c : cases) {
        TestEngine e;
        ASSERT_GE(e.input(), 0);
        int rc = flb_input_set(e.ctx(), e.input(), c.key, c.value, NULL);
        EXPECT_EQ(rc == 0, c.accepted) << c.key << "=" << c.value;
    }
}

TEST(EngineProperties, OutputTable) {
    const PropertyCase cases[] = {
        {"Match", "app.*", true},
        {"match", "", false},
        {"Retry_Limit", "3", true},
        {"Retry_Limit", "0", true},
        {"Retry_Limit", "no_limits", true},
        {"Retry_Limit", "False", true},
        {"Retry_Limit", "-1", false},
        {"Retry_Limit", "many", false},
        {"Host", "", true},
        {"Port", "", true},
        {"Host", "127.0.0.1", true},
        {"Alias", "out", true},
        {"Tag", "x", false},
        {"Unknown", "1", false},
    };
    for (const char *plugin : {"stdout", "null"})
        for (const auto &c : cases) {
            flb_ctx_t *ctx = flb_create();
            int out = flb_output(ctx, plugin, NULL);
            ASSERT_GE(out, 0) << plugin;
            EXPECT_EQ(flb_output_set(ctx, out, c.key, c.value, NULL) == 0, c.accepted)
                << plugin << " " << c.key << "=" << c.value;
            flb_destroy(ctx);
        }
}

TEST(EngineProperties, LogLevelFiltersEngineLines) {
    const struct {
        const char *level;
        bool error_shown;
    } cases[] = {{"off", false}, {"error", true}, {"debug", true}};
    for (const auto &c : cases) {
        flb_ctx_t *ctx = flb_create();
        ASSERT_EQ(flb_service_set(ctx, "Log_Level", c.level, NULL), 0);
        FdCapture err(2);
        EXPECT_LT(flb_service_set(ctx, "Bogus", "1", NULL), 0);
        EXPECT_EQ(!err.stop().empty(), c.error_shown) << c.level;
        flb_destroy(ctx);
    }
}

TEST(EngineProperties, SeveralPairsStopAtTheFirstBadOne) {
    flb_ctx_t *ctx = flb_create();
    int out = flb_output(ctx, "null", NULL);
    EXPECT_EQ(flb_output_set(ctx, out, "Match", "a", "Retry_Limit", "2", NULL), 0);
    EXPECT_LT(flb_output_set(ctx, out, "Match", "b", "Bogus", "2", NULL), 0);
    EXPECT_LT(flb_service_set(ctx, "Flush", NULL), 0); // a key without a value
    EXPECT_EQ(flb_service_set(ctx, NULL), 0);          // no pairs at all
    flb_destroy(ctx);
}

TEST(EnginePlugins, UnknownNamesAndHandles) {
    flb_ctx_t *ctx = flb_create();
    FdCapture err(2);
    EXPECT_EQ(flb_input(ctx, "no_such_input", NULL), -1);
    EXPECT_EQ(flb_output(ctx, "no_such_output", NULL), -1);
    EXPECT_EQ(flb_output(ctx, "flaky", NULL), -1); // test builds only
    EXPECT_LT(flb_input_set(ctx, 0, "Tag", "t", NULL), 0);
    EXPECT_LT(flb_output_set(ctx, 7, "Match", "m", NULL), 0);
    EXPECT_LT(flb_output_set(ctx, -1, "Match", "m", NULL), 0);
    std::string log = err.stop();
    EXPECT_NE(log.find("unknown input plugin 'no_such_input'"), std::string::npos) << log;
    EXPECT_NE(log.find("unknown output plugin 'no_such_output'"), std::string::npos) << log;
    EXPECT_NE(log.find("'Match' = 'm'"), std::string::npos) << log;
    flb_destroy(ctx);
}

// Every plugin folder of the source tree is registered under its name.
TEST(EnginePlugins, EveryPluginFolderIsRegistered) {
    std::string folders = PV_ENGINE_PLUGIN_FOLDERS;
    std::stringstream list(folders);
    std::string folder;
    while (std::getline(list, folder, ',')) {
        if (folder.empty())
            continue;
        flb_ctx_t *ctx = flb_create();
        if (folder.rfind("in_", 0) == 0) {
            std::string path = unique_path("reg");
            raw_input_data_t data{0, path.c_str()};
            EXPECT_GE(flb_input(ctx, folder.c_str() + 3, &data), 0) << folder;
        } else if (folder.rfind("out_", 0) == 0) {
            EXPECT_GE(flb_output(ctx, folder.c_str() + 4, NULL), 0) << folder;
        }
        flb_destroy(ctx);
    }
}

TEST(EnginePlugins, RawMsgpackChecksItsDataArgument) {
    std::string too_long(200, 'x');
    raw_input_data_t null_path{0, nullptr};
    raw_input_data_t empty{0, ""};
    raw_input_data_t long_path{0, too_long.c_str()};
    flb_ctx_t *ctx = flb_create();
    EXPECT_EQ(flb_input(ctx, "raw_msgpack", NULL), -1);
    EXPECT_EQ(flb_input(ctx, "raw_msgpack", &null_path), -1);
    EXPECT_EQ(flb_input(ctx, "raw_msgpack", &empty), -1);
    EXPECT_EQ(flb_input(ctx, "raw_msgpack", &long_path), -1);
    flb_destroy(ctx);
}

TEST(EngineLifecycle, NullContext) {
    EXPECT_EQ(flb_service_set(NULL, "Flush", "1", NULL), -1);
    EXPECT_EQ(flb_input(NULL, "raw_msgpack", NULL), -1);
    EXPECT_EQ(flb_output(NULL, "null", NULL), -1);
    EXPECT_EQ(flb_start(NULL), -1);
    EXPECT_EQ(flb_stop(NULL), -1);
    flb_destroy(NULL);
}

TEST(EngineLifecycle, DestroyWithoutStartAndStopWithoutStart) {
    TestEngine e;
    ASSERT_GE(e.add_output("stdout"), 0);
    EXPECT_EQ(e.stop(), 0);
}

TEST(EngineLifecycle, HandlesCountFromZeroPerKind) {
    TestEngine e;
    EXPECT_EQ(e.input(), 0);
    EXPECT_EQ(e.add_output("null"), 0);
    EXPECT_EQ(e.add_output("stdout"), 1);
}

TEST(EngineLifecycle, NothingCanBeSetAfterStartAndStopTwiceIsHarmless) {
    int threads_before = thread_count();
    {
        TestEngine e;
        int out = e.add_output("null");
        ASSERT_TRUE(e.start());
        EXPECT_GT(thread_count(), threads_before);
        FdCapture err(2);
        EXPECT_LT(flb_service_set(e.ctx(), "Flush", "2", NULL), 0);
        EXPECT_LT(flb_input_set(e.ctx(), e.input(), "Tag", "late", NULL), 0);
        EXPECT_LT(flb_output_set(e.ctx(), out, "Match", "late", NULL), 0);
        EXPECT_EQ(flb_output(e.ctx(), "null", NULL), -1);
        EXPECT_EQ(flb_start(e.ctx()), -1);
        std::string log = err.stop();
        EXPECT_NE(log.find("'Tag' = 'late'"), std::string::npos) << log;
        EXPECT_EQ(e.stop(), 0);
        EXPECT_EQ(e.stop(), 0);
        EXPECT_EQ(thread_count(), threads_before);
        EXPECT_EQ(flb_start(e.ctx()), -1); // a stopped engine stays stopped
    }
    EXPECT_EQ(thread_count(), threads_before);
}

TEST(EngineLifecycle, DestroyStopsARunningEngine) {
    int threads_before = thread_count();
    auto *e = new TestEngine;
    e->add_output("stdout");
    ASSERT_TRUE(e->start());
    std::string path = e->path();
    delete e; // flb_destroy without flb_stop
    EXPECT_EQ(thread_count(), threads_before);
    struct stat st;
    EXPECT_NE(lstat(path.c_str(), &st), 0);
}

TEST(EngineLifecycle, StartThatCannotBindFailsAndLeavesNothingRunning) {
    int threads_before = thread_count();
    std::string path = "/nonexistent-dir-" + std::to_string(getpid()) + "/sock";
    raw_input_data_t data{0, path.c_str()};
    flb_ctx_t *ctx = flb_create();
    ASSERT_GE(flb_input(ctx, "raw_msgpack", &data), 0);
    ASSERT_GE(flb_output(ctx, "stdout", NULL), 0);
    FdCapture err(2);
    EXPECT_EQ(flb_start(ctx), -1);
    err.stop();
    EXPECT_EQ(thread_count(), threads_before);
    EXPECT_EQ(flb_stop(ctx), 0);
    flb_destroy(ctx);
}

TEST(EngineLifecycle, StartDoesNotReplaceAFileThatIsNotASocket) {
    std::string path = unique_path("plainfile");
    {
        std::ofstream f(path);
        f << "keep me";
    }
    raw_input_data_t data{0, path.c_str()};
    flb_ctx_t *ctx = flb_create();
    ASSERT_GE(flb_input(ctx, "raw_msgpack", &data), 0);
    FdCapture err(2);
    EXPECT_EQ(flb_start(ctx), -1);
    EXPECT_NE(err.stop().find("is not a socket"), std::string::npos);
    flb_destroy(ctx);
    EXPECT_EQ(read_file(path), "keep me");
    unlink(path.c_str());
}

} // namespace
