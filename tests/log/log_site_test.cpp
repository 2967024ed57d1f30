// The log-call protocol as libsentrel's own log sites use it: this program links the
// library and logs through VEM_LOG.
#include <gtest/gtest.h>

#include "fixture/log_capture.h"
#include "log/log_lines.h"
#include "support/vem_logger.h"

namespace {

using logtest::StderrCapture;
using testhost::LogCapture;
using testhost::LogLine;

void log_every_level() {
    VEM_LOG(VEM_LOG_ERROR, "e %d", 3);
    VEM_LOG(VEM_LOG_WARNING, "w %d", 4);
    VEM_LOG(VEM_LOG_INFO, "i %d", 6);
    VEM_LOG(VEM_LOG_DEBUG, "d %d", 7);
}

struct FilterCase {
    int level;
    std::vector<int> passing;
};

class LevelFilter : public ::testing::TestWithParam<FilterCase> {};

// The level is compared as an unsigned number: 0 passes nothing, negative levels
// (other than -1) pass everything.
TEST_P(LevelFilter, PassesTheMessagesAtOrBelowTheLevel) {
    LogCapture capture(GetParam().level);
    log_every_level();
    std::vector<int> levels;
    for (const LogLine &line : capture.lines())
        levels.push_back(line.level);
    EXPECT_EQ(levels, GetParam().passing);
}

INSTANTIATE_TEST_SUITE_P(Values, LevelFilter,
                         ::testing::Values(FilterCase{0, {}}, FilterCase{3, {3}},
                                           FilterCase{5, {3, 4}}, FilterCase{6, {3, 4, 6}},
                                           FilterCase{7, {3, 4, 6, 7}},
                                           FilterCase{-2, {3, 4, 6, 7}},
                                           FilterCase{INT32_MIN, {3, 4, 6, 7}}));

TEST(LogSite, LogFunctionReceivesLevelAndFormattedArguments) {
    LogCapture capture(6);
    log_every_level();
    EXPECT_EQ(capture.lines(), (std::vector<LogLine>{{3, "e 3"}, {4, "w 4"}, {6, "i 6"}}));
}

int evaluations = 0;
int counted() {
    return ++evaluations;
}

TEST(LogSite, FilteredMessageIsNotFormatted) {
    LogCapture capture(6);
    evaluations = 0;
    VEM_LOG(VEM_LOG_DEBUG, "%d", counted());
    EXPECT_EQ(evaluations, 0);
    VEM_LOG(VEM_LOG_INFO, "%d", counted());
    EXPECT_EQ(evaluations, 1);
}

TEST(LogSite, LogFunctionWinsOverTheStreamSinkWhileSet) {
    LogCapture capture(7);
    StderrCapture err;
    ASSERT_TRUE(vem_init_stderr_logger(6));
    VEM_LOG(VEM_LOG_INFO, "still the function");
    VEM_LOG(VEM_LOG_DEBUG, "below the new level");
    EXPECT_EQ(err.text(), "");
    EXPECT_EQ(capture.lines(), (std::vector<LogLine>{{6, "still the function"}}));
    vem_logger_ctx_t *ctx = vem_get_logger_ctx();
    EXPECT_EQ(ctx->kind, VEM_LOGGER_STDERR);
    vem_destroy_logger_ctx(ctx);
}

TEST(LogSite, WithoutLogFunctionLinesGoToStandardError) {
    vem_log_func_t previous = vem_get_log_func();
    int previous_level = vem_log_level;
    StderrCapture err;
    vem_set_log_func(nullptr, 7);
    VEM_LOG(VEM_LOG_WARNING, "to %s", "stderr");
    VEM_LOG(VEM_LOG_DEBUG, "debug too");
    std::vector<std::string> lines = err.lines();
    // Run first, the sink sets up standard error, and says so at debug level.
    const std::string setup =
        "[debug] [vem_getenv] No value for 'VEM_LOG_THREAD_SAFE' or 'LOG_THREAD_SAFE'";
    if (!lines.empty() && lines.front() == setup)
        lines.erase(lines.begin());
    EXPECT_EQ(lines, (std::vector<std::string>{"[warning] to stderr", "[debug] debug too"}));
    vem_set_log_func(previous, previous_level);
}

TEST(LogSite, LevelMinusOneRunsTheDefaultInitialisationAgain) {
    unsetenv("VEM_API_LOG_LEVEL");
    setenv("API_LOG_LEVEL", "4", 1);
    LogCapture capture(7);
    EXPECT_EQ(vem_set_log_level(-1), 7);
    log_every_level();
    EXPECT_EQ(vem_log_level, 4);
    // The default initialisation selects the stderr kind but the function stays set.
    EXPECT_EQ(capture.lines(), (std::vector<LogLine>{{3, "e 3"}, {4, "w 4"}}));
    unsetenv("API_LOG_LEVEL");
}

} // namespace
