// Captures what is written to file descriptor 1 (printf, the engine's stdout output)
// into a temporary file while the object lives, and hands it back as text.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace forwarder_test {

class StdoutCapture {
  public:
    StdoutCapture() {
        char path[] = "/tmp/postvane_stdout_XXXXXX";
        file_ = mkstemp(path);
        unlink(path);
        fflush(stdout);
        saved_ = dup(1);
        dup2(file_, 1);
    }
    ~StdoutCapture() {
        if (saved_ >= 0)
            finish();
        close(file_);
    }
    StdoutCapture(const StdoutCapture &) = delete;
    StdoutCapture &operator=(const StdoutCapture &) = delete;

    // Restores fd 1 and returns everything written since construction.
    std::string finish() {
        if (saved_ >= 0) {
            fflush(stdout);
            dup2(saved_, 1);
            close(saved_);
            saved_ = -1;
        }
        std::string text;
        char chunk[4096];
        ssize_t n;
        off_t at = 0;
        while ((n = pread(file_, chunk, sizeof chunk, at)) > 0) {
            text.append(chunk, static_cast<size_t>(n));
            at += n;
        }
        return text;
    }

  private:
    int file_ = -1;
    int saved_ = -1;
};

} // namespace forwarder_test
