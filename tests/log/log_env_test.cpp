// The default initialisation from the environment, and the lookup of the prefixed and
// plain variable names.
#include "log/logger_env_fixture.h"

namespace logtest {
namespace {

struct LevelCase {
    const char *prefixed; // VEM_API_LOG_LEVEL, nullptr = unset
    const char *plain;    // API_LOG_LEVEL
    int level;
};

class DefaultLevel : public LoggerTest, public ::testing::WithParamInterface<LevelCase> {};

TEST_P(DefaultLevel, FirstLogSiteTakesTheLevelFromTheEnvironment) {
    const LevelCase &c = GetParam();
    if (c.prefixed)
        set_env("VEM_API_LOG_LEVEL", c.prefixed);
    if (c.plain)
        set_env("API_LOG_LEVEL", c.plain);
    StderrCapture err;
    lib.hex("", 0); // a log site
    std::string text = err.text();
    EXPECT_EQ(*lib.level, c.level);
    // The level lookup itself never logs (it runs while the level is still -1), and
    // below debug nothing else is said during the initialisation.
    EXPECT_EQ(text.find("API_LOG_LEVEL"), std::string::npos) << text;
    if (c.level >= 0 && c.level < 7) {
        EXPECT_EQ(text, "");
    }
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_STDERR);
    EXPECT_EQ(state.file, stderr);
}

INSTANTIATE_TEST_SUITE_P(Values, DefaultLevel,
                         ::testing::Values(LevelCase{nullptr, nullptr, 0},
                                           LevelCase{nullptr, "6", 6}, LevelCase{"abc", nullptr, 0},
                                           LevelCase{" 5", nullptr, 5}, LevelCase{"5x", nullptr, 5},
                                           LevelCase{"", nullptr, 0}, LevelCase{"-2", nullptr, -2},
                                           LevelCase{"7", "6", 7}, LevelCase{"3", "abc", 3},
                                           // -1 would mean "not yet initialised": taken as 0.
                                           LevelCase{"-1", nullptr, 0}, LevelCase{nullptr, "-1", 0},
                                           // Beyond the int range: clamped.
                                           LevelCase{"99999999999", nullptr, 2147483647}));

TEST_F(LoggerTest, UnsetLevelWritesNothingAtAnyLevelAfterTheFirstLogSite) {
    StderrCapture err;
    lib.hex("\x01", 1);
    EXPECT_EQ(*lib.level, 0);
    EXPECT_EQ(err.text(), "");
}

struct LookupCase {
    const char *prefixed; // VEM_LOG_THREAD_SAFE
    const char *plain;    // LOG_THREAD_SAFE
    std::vector<std::string> lines;
    bool mutex;
};

class ThreadSafetyLookup : public LoggerTest, public ::testing::WithParamInterface<LookupCase> {};

TEST_P(ThreadSafetyLookup, LogsTheLookupAndKeepsOrDropsTheMutex) {
    const LookupCase &c = GetParam();
    set_env("VEM_API_LOG_LEVEL", "7");
    if (c.prefixed)
        set_env("VEM_LOG_THREAD_SAFE", c.prefixed);
    if (c.plain)
        set_env("LOG_THREAD_SAFE", c.plain);
    StderrCapture err;
    lib.hex("", 0);
    EXPECT_EQ(err.lines(), c.lines);
    EXPECT_EQ(lib.state().mutex != nullptr, c.mutex);
}

const std::string kNoValue =
    "[debug] [vem_getenv] No value for 'VEM_LOG_THREAD_SAFE' or 'LOG_THREAD_SAFE'";
const std::string kDisabled = "[debug] [logger] [_vem_init_logger_mutex] Thread safety is "
                              "disabled by environment variable VEM_LOG_THREAD_SAFE";
const std::string kWithout =
    "[debug] [logger] [vem_init_stderr_logger] Initialized logger without thread-safety";

std::string using_line(const char *name, const char *value) {
    return std::string("[debug] [vem_getenv] Using '") + name + "'='" + value + "'";
}

INSTANTIATE_TEST_SUITE_P(
    Values, ThreadSafetyLookup,
    ::testing::Values(
        LookupCase{nullptr, nullptr, {kNoValue}, true},
        LookupCase{"1",
                   "0",
                   {"[warning] [vem_getenv] Environment variables conflict - "
                    "VEM_LOG_THREAD_SAFE=1 and LOG_THREAD_SAFE=0. Using VEM_LOG_THREAD_SAFE",
                    using_line("VEM_LOG_THREAD_SAFE", "1")},
                   true},
        LookupCase{"yes", "yes", {using_line("VEM_LOG_THREAD_SAFE", "yes")}, true},
        LookupCase{
            nullptr, "no", {using_line("LOG_THREAD_SAFE", "no"), kDisabled, kWithout}, false},
        LookupCase{
            "no", nullptr, {using_line("VEM_LOG_THREAD_SAFE", "no"), kDisabled, kWithout}, false},
        LookupCase{"0",
                   "1",
                   {"[warning] [vem_getenv] Environment variables conflict - "
                    "VEM_LOG_THREAD_SAFE=0 and LOG_THREAD_SAFE=1. Using VEM_LOG_THREAD_SAFE",
                    using_line("VEM_LOG_THREAD_SAFE", "0"), kDisabled, kWithout},
                   false},
        LookupCase{"", nullptr, {using_line("VEM_LOG_THREAD_SAFE", "")}, true},
        LookupCase{"True", nullptr, {using_line("VEM_LOG_THREAD_SAFE", "True")}, true},
        LookupCase{"Y", nullptr, {using_line("VEM_LOG_THREAD_SAFE", "Y")}, true},
        LookupCase{"off",
                   nullptr,
                   {using_line("VEM_LOG_THREAD_SAFE", "off"), kDisabled, kWithout},
                   false}));

TEST_F(LoggerTest, MutexCreatedEarlierStaysWhenTheEnvironmentTurnsThreadSafetyOff) {
    lib.set_log_level(6);
    ASSERT_TRUE(lib.init_stderr(6));
    pthread_mutex_t *mutex = lib.state().mutex;
    ASSERT_NE(mutex, nullptr);
    set_env("VEM_LOG_THREAD_SAFE", "false");
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 7));
    EXPECT_EQ(lib.state().mutex, mutex);
    EXPECT_EQ(file_lines(file.str()),
              (std::vector<std::string>{
                  using_line("VEM_LOG_THREAD_SAFE", "false"), kDisabled,
                  "[debug] [logger] [vem_init_file_logger] Initialized logger without "
                  "thread-safety"}));
    lib.close_logger();
}

} // namespace
} // namespace logtest
