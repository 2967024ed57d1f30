// A logger mutex that cannot be initialised: logging goes on without serialisation.
// This program defines pthread_mutex_init and exports it, so the library's call reaches
// this definition, which fails while asked to and otherwise forwards to the C library.
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>

#include "log/logger_env_fixture.h"

namespace {
bool fail_mutex_init = false;
}

extern "C" int pthread_mutex_init(pthread_mutex_t *mutex, const pthread_mutexattr_t *attr) {
    if (fail_mutex_init)
        return EAGAIN;
    using init_fn = int (*)(pthread_mutex_t *, const pthread_mutexattr_t *);
    static init_fn real = reinterpret_cast<init_fn>(dlsym(RTLD_NEXT, "pthread_mutex_init"));
    return real(mutex, attr);
}

namespace logtest {
namespace {

class MutexFailure : public LoggerTest {
  protected:
    void SetUp() override { fail_mutex_init = true; }
    void TearDown() override { fail_mutex_init = false; }
};

const char kFailed[] =
    "[error] [logger] [_vem_init_logger_mutex] failed to initialize logger mutex";

TEST_F(MutexFailure, StderrSinkStillInitialisesWithoutThreadSafety) {
    set_env("VEM_API_LOG_LEVEL", "7");
    StderrCapture err;
    EXPECT_TRUE(lib.init_default());
    lib.log(6, "unserialised");
    EXPECT_EQ(
        err.lines(),
        (std::vector<std::string>{
            "[debug] [vem_getenv] No value for 'VEM_LOG_THREAD_SAFE' or 'LOG_THREAD_SAFE'", kFailed,
            "[debug] [logger] [vem_init_stderr_logger] Initialized logger without "
            "thread-safety",
            "[info] unserialised"}));
    EXPECT_EQ(lib.state().mutex, nullptr);
}

TEST_F(MutexFailure, FileSinkStillInitialisesWithoutThreadSafety) {
    TempPath file;
    lib.set_log_level(3);
    {
        StderrCapture err;
        EXPECT_TRUE(lib.init_file(file.c_str(), 3));
        EXPECT_EQ(err.lines(), (std::vector<std::string>{kFailed})); // from the close
    }
    lib.log(3, "written");
    EXPECT_EQ(file_lines(file.str()), (std::vector<std::string>{kFailed, "[error] written"}));
    EXPECT_EQ(lib.state().mutex, nullptr);
    StderrCapture err;
    lib.close_logger(); // the stderr sink tries once more
    EXPECT_EQ(err.lines(), (std::vector<std::string>{kFailed}));
}

} // namespace
} // namespace logtest
