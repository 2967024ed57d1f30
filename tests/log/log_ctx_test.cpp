// Handing the logger state from one copy of the library to another, the refusals of an
// adopting copy, and the states that cannot be initialised or written.
#include <stdarg.h>

#include "log/logger_env_fixture.h"
#include "log/syslog_intercept.h"

namespace logtest {
namespace {

std::vector<std::pair<int, std::string>> &func_lines() {
    static std::vector<std::pair<int, std::string>> lines;
    return lines;
}

void record_message(int level, const char *format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    func_lines().emplace_back(level, text);
}

bool same(const vem_logger_ctx_t &a, const vem_logger_ctx_t &b) {
    return a.kind == b.kind && a.file == b.file && a.func == b.func && a.level == b.level &&
           a.mutex == b.mutex;
}

class Sharing : public LoggerTest {
  protected:
    void SetUp() override {
        func_lines().clear();
        syslog_record() = {};
    }
    // Adopts a record in the second copy.
    void adopt(const vem_logger_ctx_t &record) { ASSERT_TRUE(other.register_logger(&record)); }
    LoggerCopy other;
};

TEST_F(Sharing, RecordNamesOnlyTheFieldsOfItsKind) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    vem_logger_ctx_t state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_FILE);
    EXPECT_NE(state.file, nullptr);
    EXPECT_EQ(state.func, nullptr);
    EXPECT_NE(state.mutex, nullptr);
    pthread_mutex_t *mutex = state.mutex;

    lib.set_log_func(record_message, 5); // the function kind: no stream in the record
    state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_FUNC);
    EXPECT_EQ(state.file, nullptr);
    EXPECT_EQ(state.func, &record_message);
    EXPECT_EQ(state.level, 5);
    EXPECT_EQ(state.mutex, mutex);

    ASSERT_TRUE(lib.init_syslog("vem-test", 4)); // syslog: neither stream nor function
    state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_SYSLOG);
    EXPECT_EQ(state.file, nullptr);
    EXPECT_EQ(state.func, nullptr);
    EXPECT_EQ(state.level, 4);

    lib.close_logger();
    state = lib.state();
    EXPECT_EQ(state.kind, VEM_LOGGER_STDERR);
    EXPECT_EQ(state.file, stderr);
    EXPECT_EQ(state.func, nullptr);
    lib.destroy_ctx(nullptr);
}

TEST_F(Sharing, EqualRecordChangesNothingAndRegistersNot) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    vem_logger_ctx_t state = lib.state();
    EXPECT_TRUE(lib.register_logger(&state));
    EXPECT_FALSE(*lib.registered);
    EXPECT_TRUE(same(lib.state(), state));
    TempPath second;
    EXPECT_TRUE(lib.init_file(second.c_str(), 6)); // still allowed
    lib.close_logger();
}

void other_function(int, const char *, ...) {}

TEST_F(Sharing, RecordDifferingInAnyFieldIsAdopted) {
    // Both copies use the function kind without a stream or mutex; only one field differs.
    lib.set_log_func(record_message, 7);
    const vem_logger_ctx_t base = lib.state();
    vem_logger_ctx_t differing[] = {base, base, base};
    differing[0].func = other_function;
    differing[1].level = 6;
    differing[2].kind = VEM_LOGGER_STDERR;
    for (const vem_logger_ctx_t &record : differing) {
        LoggerCopy fresh;
        fresh.set_log_func(record_message, 7);
        ASSERT_TRUE(fresh.register_logger(&record));
        EXPECT_TRUE(*fresh.registered);
    }
    LoggerCopy fresh;
    fresh.set_log_func(other_function, 7);
    ASSERT_TRUE(fresh.register_logger(&base));
    EXPECT_EQ(fresh.get_log_func(), &record_message);
}

TEST_F(Sharing, ExitHandlerDestroysOnlyAnOwnMutex) {
    ASSERT_TRUE(lib.init_stderr(6));
    adopt(lib.state());
    other.cleanup(); // adopted: the owner's mutex stays
    EXPECT_EQ(other.state().mutex, lib.state().mutex);
    lib.cleanup();
    EXPECT_EQ(lib.state().mutex, nullptr);
    lib.cleanup();                   // nothing left to destroy
    ASSERT_TRUE(lib.init_stderr(6)); // a later initialisation creates it again
    EXPECT_NE(lib.state().mutex, nullptr);
}

TEST_F(Sharing, NullRecordIsRefused) {
    EXPECT_FALSE(lib.register_logger(nullptr));
    EXPECT_FALSE(*lib.registered);
}

TEST_F(Sharing, AdoptingCopyWritesIntoTheOwnersFileUnderItsMutex) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    vem_logger_ctx_t *record = lib.get_ctx();
    adopt(*record);
    lib.destroy_ctx(record); // the adoption copied the fields
    EXPECT_TRUE(*other.registered);
    EXPECT_TRUE(same(other.state(), lib.state()));
    other.log(6, "from the plug-in");
    lib.log(6, "from the host");
    EXPECT_EQ(file_lines(file.str()),
              (std::vector<std::string>{"[info] from the plug-in", "[info] from the host"}));
    lib.close_logger();
}

TEST_F(Sharing, AdoptingCopyRefusesEverySinkChange) {
    TempPath file, elsewhere;
    ASSERT_TRUE(lib.init_file(file.c_str(), 7));
    adopt(lib.state());
    vem_logger_ctx_t before = other.state();
    FILE *stream = before.file;

    EXPECT_FALSE(other.init_file(elsewhere.c_str(), 3));
    EXPECT_FALSE(other.init_syslog("vem-test", 3));
    EXPECT_FALSE(other.init_stderr(3));
    other.close_logger();
    EXPECT_TRUE(same(other.state(), before));
    EXPECT_TRUE(syslog_record().calls.empty());
    // The owner's stream is still open and in use by both copies.
    EXPECT_EQ(lib.state().file, stream);
    other.log(6, "still here");
    EXPECT_EQ(
        file_lines(file.str()),
        (std::vector<std::string>{
            "[debug] [vem_getenv] No value for 'VEM_LOG_THREAD_SAFE' or 'LOG_THREAD_SAFE'",
            "[debug] [logger] [vem_init_file_logger] registered logger cannot initialize logger",
            "[debug] [logger] [vem_init_syslog_logger] registered logger cannot initialize "
            "logger",
            "[debug] [logger] [vem_init_stderr_logger] registered logger cannot initialize "
            "logger",
            "[debug] [logger] [vem_close_logger] tried closing a registered logger, skipping "
            "closure",
            "[info] still here"}));
    EXPECT_EQ(read_file(elsewhere.str()), "");

    // The level and the log function may still change, and a further adoption applies.
    EXPECT_EQ(other.set_log_level(4), 7);
    other.set_log_func(record_message, 6);
    other.hex("x", 1); // debug: filtered
    EXPECT_TRUE(func_lines().empty());
    ASSERT_TRUE(lib.init_syslog("vem-host", 6));
    adopt(lib.state());
    EXPECT_EQ(other.state().kind, VEM_LOGGER_SYSLOG);
    lib.close_logger();
}

TEST_F(Sharing, AdoptedFunctionStateCallsTheOwnersFunction) {
    lib.set_log_func(record_message, 7);
    adopt(lib.state());
    EXPECT_EQ(other.get_log_func(), &record_message);
    other.hex("AB", 2);
    ASSERT_EQ(func_lines().size(), 1u);
    EXPECT_EQ(func_lines()[0].first, 7);
    EXPECT_EQ(func_lines()[0].second, "41 42                                             |  AB ");
}

TEST_F(Sharing, OwnLogFunctionStaysInForceAfterAStreamStateIsAdopted) {
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 7));
    other.set_log_func(record_message, 3);
    adopt(lib.state());
    other.hex("A", 1);
    EXPECT_EQ(func_lines().size(), 1u);
    EXPECT_EQ(other.state().level, 7);
    lib.close_logger();
}

TEST_F(Sharing, AdoptedSyslogStateWritesIntoTheProcessConnection) {
    ASSERT_TRUE(lib.init_syslog("vem-host", 6));
    adopt(lib.state());
    other.log(3, "plug-in error %d", 7);
    EXPECT_EQ(syslog_record().calls,
              (std::vector<std::string>{"openlog vem-host 3 24", "vsyslog 3 plug-in error 7"}));
}

// An adopted stream state without a stream cannot be set up (the stderr sink refuses
// while registered): its lines go to standard error and the state stays as adopted.
TEST_F(Sharing, AdoptedStateWithoutStreamWritesToStandardError) {
    for (int32_t kind : {VEM_LOGGER_STDERR, VEM_LOGGER_FILE, VEM_LOGGER_FUNC}) {
        SCOPED_TRACE(kind);
        LoggerCopy fresh;
        vem_logger_ctx_t record = {kind, nullptr, nullptr, 7, nullptr};
        ASSERT_TRUE(fresh.register_logger(&record));
        StderrCapture err;
        fresh.log(3, "kept %s", "anyway");
        fresh.hex("A", 1);
        EXPECT_EQ(err.lines(),
                  (std::vector<std::string>{"[error] kept anyway",
                                            "[debug] 41                                      "
                                            "          |  A "}));
        EXPECT_TRUE(same(fresh.state(), record));
    }
}

// An adopted level of -1 cannot be replaced by the default initialisation (the stderr
// sink is refused). The first log site keeps the adopted sink and takes the level from
// the environment; the refusal it provokes is dropped.
TEST_F(Sharing, AdoptedLevelMinusOneTakesTheEnvironmentLevel) {
    set_env("VEM_API_LOG_LEVEL", "7");
    TempPath file;
    ASSERT_TRUE(lib.init_file(file.c_str(), 6));
    vem_logger_ctx_t record = lib.state();
    record.level = -1;
    adopt(record);
    other.hex("A", 1);
    EXPECT_EQ(*other.level, 7);
    EXPECT_EQ(other.state().file, record.file);
    EXPECT_EQ(file_lines(file.str()),
              std::vector<std::string>{"[debug] 41                                      "
                                       "          |  A "});
    // The same after vem_set_log_level(-1) while registered; with the level unset, 0.
    unsetenv("VEM_API_LOG_LEVEL");
    other.set_log_level(-1);
    other.hex("B", 1);
    EXPECT_EQ(*other.level, 0);
    EXPECT_EQ(file_lines(file.str()).size(), 1u);
    lib.close_logger();
}

} // namespace
} // namespace logtest
