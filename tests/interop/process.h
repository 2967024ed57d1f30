// Child processes for interop tests: spawn with output to a file or a pipe, signal, wait
// with a watchdog, and run a command to completion for its output.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace interop {

// The full path of a program on PATH, or "" when it is not installed.
inline std::string find_program(const std::string &name) {
    const char *path = getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        std::string p = dir + "/" + name;
        if (access(p.c_str(), X_OK) == 0)
            return p;
    }
    return "";
}

class Child {
  public:
    // Starts argv[0] with stdout and stderr appended to log_path; with pipe_stdout the
    // standard output comes through read_line() instead.
    bool start(const std::vector<std::string> &argv, const std::string &log_path,
               bool pipe_stdout = false) {
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        int out[2] = {-1, -1};
        if (pipe_stdout) {
            if (pipe(out) != 0)
                return false;
            posix_spawn_file_actions_adddup2(&fa, out[1], 1);
            posix_spawn_file_actions_addclose(&fa, out[0]);
            posix_spawn_file_actions_addclose(&fa, out[1]);
        } else {
            posix_spawn_file_actions_addopen(&fa, 1, log_path.c_str(),
                                             O_WRONLY | O_CREAT | O_APPEND, 0644);
        }
        posix_spawn_file_actions_addopen(&fa, 2, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        std::vector<char *> args;
        for (auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        int rc = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (pipe_stdout) {
            close(out[1]);
            out_ = out[0];
        }
        return rc == 0;
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0)
            close(out_);
    }

    bool running() {
        if (pid_ <= 0)
            return false;
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            exit_status_ = status;
            return false;
        }
        return true;
    }
    void signal(int sig) {
        if (pid_ > 0)
            kill(pid_, sig);
    }
    // Waits for the exit; false when the watchdog fired (the child is then killed).
    bool wait(int watchdog_s = 60) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(watchdog_s);
        while (running()) {
            if (std::chrono::steady_clock::now() > until) {
                kill(pid_, SIGKILL);
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return true;
    }
    int exit_status() const { return exit_status_; }

    // One line of the piped standard output; false at its end or when waiting for it
    // took longer than watchdog_ms.
    bool read_line(std::string &line, int watchdog_ms) {
        for (;;) {
            size_t nl = buffer_.find('\n');
            if (nl != std::string::npos) {
                line = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return true;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, watchdog_ms) != 1)
                return false;
            char chunk[4096];
            ssize_t n = read(out_, chunk, sizeof chunk);
            if (n <= 0)
                return false;
            buffer_.append(chunk, static_cast<size_t>(n));
        }
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int exit_status_ = -1;
    std::string buffer_;
};

// Runs a shell command and returns its standard output.
inline std::string run(const std::string &command, int *status = nullptr) {
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = pclose(p);
    if (status)
        *status = rc;
    return out;
}

inline std::string read_file(const std::string &path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// A fresh directory under /tmp, removed with its content at the end of the scope.
class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/sentrel-interop-XXXXXX";
        path_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir() {
        if (!path_.empty())
            run("rm -rf '" + path_ + "'");
    }
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

} // namespace interop
