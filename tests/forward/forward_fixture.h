// Shared pieces of the forward output's tests: a watchdog wait, temporary directories,
// the Node.js receiver process, chunks built from JSON records, output instances driven
// directly through the plugin table, and a capture of the engine's log lines.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/output_api.h"

extern const engine::OutputPlugin out_forward_plugin;

namespace fwdtest {

using json = nlohmann::json;

// Catches hangs only: a condition that should come true does so long before this.
constexpr auto kWatchdog = std::chrono::seconds(90);

inline bool wait_until(const std::function<bool()> &condition) {
    auto give_up = std::chrono::steady_clock::now() + kWatchdog;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > give_up)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/forward_test_XXXXXX";
        path_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~TempDir() {
        if (!path_.empty()) {
            std::string cmd = "rm -rf '" + path_ + "'";
            if (system(cmd.c_str()) != 0) {
            }
        }
    }
    std::string file(const std::string &name) const { return path_ + "/" + name; }
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// A TCP port that was free a moment ago (bound on port 0, then released).
inline int free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        close(fd);
        return -1;
    }
    close(fd);
    return ntohs(a.sin_port);
}

inline std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The events the receiver recorded so far, one JSON object per line.
inline std::vector<json> read_events(const std::string &path) {
    std::vector<json> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            out.push_back(json::parse(line));
    return out;
}

// The Node.js FluentServer receiver (receiver.js), one process.
class Receiver {
public:
    Receiver() = default;
    Receiver(const Receiver &) = delete;
    ~Receiver() { stop(); }

    // Starts it with the given key=value arguments; port=0 lets it choose. Returns the
    // port it listens on, or -1.
    int start(std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return -1;
        std::vector<std::string> argv = {"node", FORWARD_TEST_DIR "/receiver.js"};
        argv.insert(argv.end(), args.begin(), args.end());
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            std::vector<char *> cargv;
            for (auto &a : argv)
                cargv.push_back(a.data());
            cargv.push_back(nullptr);
            execvp("node", cargv.data());
            _exit(127);
        }
        close(out[1]);
        std::string text;
        int port = -1;
        auto give_up = std::chrono::steady_clock::now() + kWatchdog;
        while (port < 0 && std::chrono::steady_clock::now() < give_up) {
            pollfd p{out[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0)
                continue;
            char buf[256];
            ssize_t n = read(out[0], buf, sizeof buf);
            if (n <= 0)
                break;
            text.append(buf, static_cast<size_t>(n));
            if (sscanf(text.c_str(), "listening %d", &port) != 1 || text.find('\n') == std::string::npos)
                port = -1;
        }
        close(out[0]);
        return port;
    }

    // SIGTERM: the receiver exits between two turns of its event loop, so that every
    // chunk it acknowledged is also recorded.
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

inline std::vector<std::string> receiver_args(const std::string &out, int port = 0) {
    return {"out=" + out, "port=" + std::to_string(port)};
}

// Chunk bytes in the engine's layout [[EventTime, {}], record] from JSON records.
struct ChunkData {
    std::string tag;
    std::string bytes;
    size_t records = 0;
    engine::Chunk view() const { return {tag.data(), tag.size(), bytes.data(), bytes.size(), records}; }
};

inline void append_event(ChunkData *c, uint32_t sec, uint32_t nsec, const json &record) {
    const unsigned char head[] = {0x92, 0x92, 0xd7, 0x00};
    c->bytes.append(reinterpret_cast<const char *>(head), sizeof head);
    for (uint32_t v : {sec, nsec}) {
        unsigned char b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
        c->bytes.append(reinterpret_cast<const char *>(b), 4);
    }
    c->bytes.push_back(static_cast<char>(0x80));  // empty metadata map
    std::vector<uint8_t> rec = json::to_msgpack(record);
    c->bytes.append(reinterpret_cast<const char *>(rec.data()), rec.size());
    ++c->records;
}

inline ChunkData make_chunk(const std::string &tag, const std::vector<json> &records, uint32_t sec = 1700000000,
                            uint32_t nsec = 123456789) {
    ChunkData c;
    c.tag = tag;
    for (size_t i = 0; i < records.size(); ++i)
        append_event(&c, sec + static_cast<uint32_t>(i), nsec, records[i]);
    return c;
}

// A chunk of `n` records {"seq": first + i, "msg": ...} for loss checks.
inline ChunkData numbered_chunk(const std::string &tag, int first, int n) {
    std::vector<json> records;
    for (int i = 0; i < n; ++i)
        records.push_back({{"seq", first + i}, {"msg", "record number " + std::to_string(first + i)}});
    return make_chunk(tag, records);
}

// One forward output instance driven through the plugin table, as the engine does.
class Output {
public:
    explicit Output(std::vector<std::pair<std::string, std::string>> props) {
        ins_.plugin = &out_forward_plugin;
        ins_.name = "forward.0";
        ins_.abort_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        for (auto &p : props)
            ins_.set(p.first.c_str(), p.second.c_str());
    }
    ~Output() {
        if (inited_)
            out_forward_plugin.exit(&ins_);
        close(ins_.abort_fd);
    }
    int init() {
        int rc = out_forward_plugin.init(&ins_);
        inited_ = rc == 0;
        return rc;
    }
    engine::FlushResult flush(const ChunkData &c) { return out_forward_plugin.flush(&ins_, c.view()); }
    void abort() {
        uint64_t one = 1;
        if (write(ins_.abort_fd, &one, sizeof one) < 0) {
        }
    }
    engine::Instance &instance() { return ins_; }

private:
    engine::Instance ins_;
    bool inited_ = false;
};

// Sends standard error (where engine log lines go) to a file for the scope's duration.
class StderrCapture {
public:
    StderrCapture() : path_(dir_.file("stderr")) {
        fflush(stderr);
        saved_ = dup(2);
        int fd = open(path_.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
        dup2(fd, 2);
        close(fd);
    }
    ~StderrCapture() { restore(); }
    // Everything written so far; standard error stays captured.
    std::string text() {
        fflush(stderr);
        return read_file(path_);
    }
    void restore() {
        if (saved_ >= 0) {
            fflush(stderr);
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
            fputs(read_file(path_).c_str(), stderr);  // keep the lines in the test's output
        }
    }

private:
    TempDir dir_;
    std::string path_;
    int saved_ = -1;
};

}  // namespace fwdtest
