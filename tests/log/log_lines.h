// Reading logger output back: capturing standard error, reading files, and splitting
// stream lines into their timestamp prefix and the rest.
#pragma once

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace logtest {

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> split_lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start) + "<no newline>");
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Length of the timestamp prefix "[YYYY-mm-dd HH:MM:SS.mmm] " of every stream line.
constexpr size_t kStampLength = 26;

// Whether text begins with a timestamp prefix (digits where the shape has 9).
inline bool has_stamp(const std::string &text) {
    static const char shape[] = "[9999-99-99 99:99:99.999] ";
    static_assert(sizeof shape - 1 == kStampLength);
    if (text.size() < kStampLength)
        return false;
    for (size_t i = 0; i < kStampLength; ++i) {
        bool ok = shape[i] == '9' ? isdigit(static_cast<unsigned char>(text[i])) != 0
                                  : text[i] == shape[i];
        if (!ok)
            return false;
    }
    return true;
}

// The lines without their timestamp prefix; a line without a valid prefix is kept whole
// behind "<no stamp>" so that comparisons show it.
inline std::vector<std::string> unstamped(const std::vector<std::string> &lines) {
    std::vector<std::string> out;
    for (const auto &line : lines)
        out.push_back(has_stamp(line) ? line.substr(kStampLength) : "<no stamp>" + line);
    return out;
}

inline std::vector<std::string> file_lines(const std::string &path) {
    return unstamped(split_lines(read_file(path)));
}

// A unique path for a temporary file; removed with the object.
class TempPath {
  public:
    TempPath() {
        char path[] = "/tmp/vem-log-test-XXXXXX";
        int fd = mkstemp(path);
        close(fd);
        path_ = path;
    }
    ~TempPath() { unlink(path_.c_str()); }
    const std::string &str() const { return path_; }
    const char *c_str() const { return path_.c_str(); }

  private:
    std::string path_;
};

// Redirects file descriptor 2 into a temporary file while it lives.
class StderrCapture {
  public:
    StderrCapture() {
        fflush(stderr);
        saved_ = dup(2);
        int fd = open(file_.c_str(), O_WRONLY | O_TRUNC);
        dup2(fd, 2);
        close(fd);
    }
    ~StderrCapture() { restore(); }
    // Everything written so far; ends the capture.
    std::string text() {
        restore();
        return read_file(file_.str());
    }
    std::vector<std::string> lines() { return unstamped(split_lines(text())); }

  private:
    void restore() {
        if (saved_ < 0)
            return;
        fflush(stderr);
        dup2(saved_, 2);
        close(saved_);
        saved_ = -1;
    }
    TempPath file_;
    int saved_ = -1;
};

// Sets or removes an environment variable for the lifetime of the object.
class EnvVar {
  public:
    EnvVar(const char *name, const char *value) : name_(name) {
        const char *old = getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar() {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

  private:
    std::string name_;
    std::string old_;
    bool had_ = false;
};

// Whether any descriptor of this process refers to the file at path.
inline bool process_has_open(const std::string &path) {
    for (int fd = 0; fd < 1024; ++fd) {
        char link[64], target[4096];
        snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, target, sizeof target - 1);
        if (n <= 0)
            continue;
        target[n] = '\0';
        if (path == target)
            return true;
    }
    return false;
}

} // namespace logtest
