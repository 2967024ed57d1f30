// Unloading the library after it logged: its exit handler runs at unload, and nothing of
// it is left to run at process exit.
#include <sys/wait.h>

#include "log/logger_env_fixture.h"

namespace logtest {
namespace {

// Loads a copy, logs to standard error and to a file (creating the mutex and registering
// the exit handler), unloads it, then logs through a second copy and exits normally.
int unload_then_exit(const std::string &file) {
    {
        LoggerCopy copy;
        copy.set_log_level(6);
        copy.log(6, "before unload");
        if (!copy.init_file(file.c_str(), 6))
            return 10;
        copy.log(6, "to the file");
        copy.close_logger();
        std::string path = copy.path();
        copy.unload();
        if (dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD) != nullptr)
            return 11; // still loaded: the test would prove nothing
    }
    LoggerCopy again;
    again.set_log_level(6);
    again.log(6, "after unload");
    again.unload();
    return 0;
}

TEST_F(LoggerTest, ProcessStaysHealthyAfterUnloadingALibraryThatLogged) {
    TempPath file;
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int fd = open("/dev/null", O_WRONLY);
        dup2(fd, 2);
        exit(unload_then_exit(file.str())); // exit runs the remaining exit handlers
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "child died by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(file_lines(file.str()), std::vector<std::string>{"[info] to the file"});

    // The same in this process: later tests and the exit of this program run after it.
    EXPECT_EQ(unload_then_exit(file.str()), 0);
}

} // namespace
} // namespace logtest
