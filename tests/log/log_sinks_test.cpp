// The file and syslog sinks, and closing a sink.
#include "log/logger_env_fixture.h"
#include "log/syslog_intercept.h"

namespace logtest {
namespace {

class Sinks : public LoggerTest {
  protected:
    void SetUp() override { syslog_record() = {}; }
};

TEST_F(Sinks, FileSinkTruncatesAnExistingFile) {
    TempPath file;
    {
        std::ofstream old(file.str());
        old << "line of an earlier run\n";
    }
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    lib.log(6, "fresh");
    EXPECT_EQ(file_lines(file.str()), std::vector<std::string>{"[info] fresh"});
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_FILE);
    EXPECT_NE(state.file, nullptr);
    EXPECT_NE(state.file, stderr);
    EXPECT_EQ(state.level, 6);
    lib.close_logger();
}

TEST_F(Sinks, SecondFileSinkClosesTheFirstFile) {
    TempPath first, second;
    ASSERT_TRUE(lib.init_file(first.c_str(), 6));
    lib.log(6, "one");
    ASSERT_TRUE(process_has_open(first.str()));
    ASSERT_TRUE(lib.init_file(second.c_str(), 6));
    lib.log(6, "two");
    EXPECT_FALSE(process_has_open(first.str()));
    EXPECT_TRUE(process_has_open(second.str()));
    EXPECT_EQ(file_lines(first.str()), std::vector<std::string>{"[info] one"});
    EXPECT_EQ(file_lines(second.str()), std::vector<std::string>{"[info] two"});
    lib.close_logger();
    EXPECT_FALSE(process_has_open(second.str()));
}

TEST_F(Sinks, UnopenableFileSelectsStandardErrorWithTheNewLevelSilently) {
    TempPath first;
    ASSERT_TRUE(lib.init_file(first.c_str(), 4));
    StderrCapture err;
    EXPECT_FALSE(lib.init_file("/nonexistent-dir/vem.log", 6));
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_STDERR);
    EXPECT_EQ(state.file, stderr);
    EXPECT_EQ(state.level, 6);
    EXPECT_FALSE(process_has_open(first.str())); // the earlier file was closed first
    lib.log(6, "to stderr");
    EXPECT_EQ(err.lines(), std::vector<std::string>{"[info] to stderr"});
    EXPECT_FALSE(lib.init_file(nullptr, 6));
}

TEST_F(Sinks, SyslogSinkOpensSyslogAndHandsItTheMessages) {
    static const char ident[] = "vem-test";
    StderrCapture err;
    ASSERT_TRUE(lib.init_syslog(ident, 6));
    EXPECT_EQ(syslog_record().last_ident, ident); // not copied
    lib.log(4, "collector %s unreachable", "10.0.0.1");
    lib.log(5, "no tag");
    EXPECT_EQ(
        syslog_record().calls,
        (std::vector<std::string>{"openlog vem-test 3 24",
                                  "vsyslog 4 collector 10.0.0.1 unreachable", "vsyslog 5 no tag"}));
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_SYSLOG);
    EXPECT_EQ(state.file, nullptr);
    EXPECT_EQ(state.func, nullptr);
    EXPECT_EQ(state.level, 6);
    EXPECT_NE(state.mutex, nullptr);
    EXPECT_EQ(err.text(), "");
}

TEST_F(Sinks, SyslogAfterFileLeavesTheFileOpenAndCloseClosesSyslog) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    ASSERT_TRUE(lib.init_syslog("vem-test", 6));
    EXPECT_TRUE(process_has_open(file.str()));
    lib.close_logger();
    EXPECT_TRUE(process_has_open(file.str()));
    EXPECT_EQ(syslog_record().calls,
              (std::vector<std::string>{"openlog vem-test 3 24", "closelog"}));
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_STDERR);
    EXPECT_EQ(state.file, stderr);
}

void ignore_message(int, const char *, ...) {}

TEST_F(Sinks, CloseReturnsToStandardErrorWithTheCurrentLevel) {
    // stderr and function kinds close nothing; the log function stays set.
    ASSERT_TRUE(lib.init_stderr(4));
    lib.close_logger();
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_STDERR);
    EXPECT_EQ(state.file, stderr);
    EXPECT_EQ(state.level, 4);

    lib.set_log_func(ignore_message, 3);
    lib.close_logger();
    state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_STDERR);
    EXPECT_EQ(state.level, 3);
    EXPECT_EQ(lib.get_log_func(), &ignore_message);
    EXPECT_TRUE(syslog_record().calls.empty());
}

} // namespace
} // namespace logtest
