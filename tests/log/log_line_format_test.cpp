// Stream lines: timestamp prefix in local time, level tags, message, newline.
#include <time.h>

#include "log/logger_env_fixture.h"

namespace logtest {
namespace {

std::string local_stamp(const timespec &at) {
    struct tm local;
    localtime_r(&at.tv_sec, &local);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    char out[48];
    snprintf(out, sizeof out, "%s.%03d", text, static_cast<int>(at.tv_nsec / 1000000));
    return out;
}

using StreamLine = LoggerTest;

TEST_F(StreamLine, IsLocalTimestampWithMillisecondsTagMessageAndNewline) {
    // A zone far from UTC, so that a UTC timestamp would not pass.
    std::string text, before_stamp, after_stamp;
    timespec before, after;
    {
        EnvVar tz("TZ", "XYZ-5:30");
        tzset();
        TempPath file;
        ASSERT_TRUE(lib.init_file(file.c_str(), 6));
        clock_gettime(CLOCK_REALTIME, &before);
        lib.log(6, "exporter %s sent %d packets", "nf0", 42);
        clock_gettime(CLOCK_REALTIME, &after);
        text = read_file(file.str());
        // Expected stamps in the same zone.
        before_stamp = local_stamp(before);
        after_stamp = local_stamp(after);
    }
    tzset();
    ASSERT_TRUE(has_stamp(text)) << text;
    EXPECT_EQ(text.substr(kStampLength), "[info] exporter nf0 sent 42 packets\n");
    // Fixed-width fields: the text order is the time order.
    std::string stamp = text.substr(1, kStampLength - 3);
    EXPECT_LE(before_stamp, stamp);
    EXPECT_GE(after_stamp, stamp);
}

TEST_F(StreamLine, TagFollowsTheLevelAndOtherLevelsHaveNone) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    const struct {
        int level;
        const char *line;
    } cases[] = {
        {3, "[error] m"}, {4, "[warning] m"}, {6, "[info] m"}, {7, "[debug] m"},
        {5, "m"},         {0, "m"},           {8, "m"},        {-2, "m"},
    };
    // The built-in sink writes whatever it is given: filtering is the log site's.
    std::vector<std::string> expected;
    for (const auto &c : cases) {
        lib.log(c.level, "m");
        expected.push_back(c.line);
    }
    EXPECT_EQ(file_lines(file.str()), expected);
}

TEST_F(StreamLine, TimestampPrefixAloneAndNullStream) {
    TempPath file;
    FILE *stream = fopen(file.c_str(), "w");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(lib.dump_timestamp(stream), 26); // "[YYYY-mm-dd HH:MM:SS.mmm] "
    fclose(stream);
    std::string text = read_file(file.str());
    EXPECT_TRUE(has_stamp(text) && text.size() == kStampLength) << text;
    EXPECT_EQ(lib.dump_timestamp(nullptr), -1);
}

TEST_F(StreamLine, FirstLineOfADebugProcessIsTheThreadSafetyLookup) {
    set_env("VEM_API_LOG_LEVEL", "7");
    StderrCapture err;
    lib.hex("", 0); // a log site: runs the default initialisation
    EXPECT_EQ(err.lines(),
              std::vector<std::string>{"[debug] [vem_getenv] No value for 'VEM_LOG_THREAD_SAFE' or "
                                       "'LOG_THREAD_SAFE'"});
}

TEST_F(StreamLine, BuiltInSinkSetsUpStandardErrorWhenThereIsNoStream) {
    lib.set_log_level(6);
    StderrCapture err;
    lib.log(3, "first line");
    EXPECT_EQ(err.lines(), std::vector<std::string>{"[error] first line"});
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_STDERR);
    EXPECT_EQ(state.file, stderr);
    EXPECT_EQ(state.level, 6);
    EXPECT_NE(state.mutex, nullptr);
}

} // namespace
} // namespace logtest
