// Test helpers for the engine: unique paths, a doorbell client socket with a watchdog,
// capture of a standard descriptor, MessagePack building, and small engine set-ups.
#pragma once

#include <fcntl.h>
#include <msgpack.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/include/pv_engine.h"
#include "engine/include/raw_msgpack_wire.h"

namespace enginetest {

// Waits longer than this are hangs, not slowness.
constexpr int kWatchdogMs = 60000;

inline std::string unique_path(const char *what) {
    static std::atomic<int> counter{0};
    return "/tmp/pvengine_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) +
           "_" + what;
}

inline std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Polls cond every few milliseconds; fails the test only when it never becomes true.
inline bool eventually(const std::function<bool()> &cond) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatchdogMs);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end) {
            ADD_FAILURE() << "watchdog: condition never became true";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The caller's side of the doorbell: a bound Unix datagram socket.
class DoorbellClient {
  public:
    DoorbellClient() : path_(unique_path("client")) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a = address(path_);
        unlink(path_.c_str());
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            ADD_FAILURE() << "cannot bind the test client at " << path_;
    }
    ~DoorbellClient() {
        close(fd_);
        unlink(path_.c_str());
    }
    static sockaddr_un address(const std::string &path) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
        return a;
    }
    bool send_raw(const std::string &server, const void *bytes, size_t n) {
        sockaddr_un a = address(server);
        return sendto(fd_, bytes, n, 0, reinterpret_cast<sockaddr *>(&a), sizeof a) ==
               static_cast<ssize_t>(n);
    }
    bool send_request(const std::string &server, int32_t size, const void *data) {
        doorbell_msg_t m{};
        m.size = size;
        m.data = const_cast<void *>(data);
        return send_raw(server, &m, sizeof m);
    }
    // The next answer; nullopt (and a failure) when none comes before the watchdog.
    std::optional<raw_msgpack_answer_t> answer() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, kWatchdogMs) != 1) {
            ADD_FAILURE() << "watchdog: no answer";
            return std::nullopt;
        }
        raw_msgpack_answer_t a{};
        ssize_t n = recv(fd_, &a, sizeof a, 0);
        EXPECT_EQ(n, static_cast<ssize_t>(sizeof a));
        return a;
    }
    bool answer_pending() {
        char b[16];
        return recv(fd_, b, sizeof b, MSG_DONTWAIT | MSG_PEEK) >= 0;
    }
    // One full exchange.
    std::optional<raw_msgpack_answer_t> ring(const std::string &server, const std::string &buffer) {
        if (!send_request(server, static_cast<int32_t>(buffer.size()), buffer.data())) {
            ADD_FAILURE() << "cannot send to " << server;
            return std::nullopt;
        }
        return answer();
    }
    int fd() const { return fd_; }
    const std::string &path() const { return path_; }

  private:
    std::string path_;
    int fd_ = -1;
};

// Redirects a standard descriptor (1 or 2) into a file until stop().
class FdCapture {
  public:
    explicit FdCapture(int fd) : fd_(fd), path_(unique_path("capture")) {
        fflush(fd == 1 ? stdout : stderr);
        saved_ = dup(fd_);
        int f = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(f, fd_);
        close(f);
    }
    ~FdCapture() { stop(); }
    std::string stop() {
        if (saved_ >= 0) {
            fflush(fd_ == 1 ? stdout : stderr);
            dup2(saved_, fd_);
            close(saved_);
            saved_ = -1;
            text_ = read_file(path_);
            unlink(path_.c_str());
        }
        return text_;
    }

  private:
    int fd_;
    std::string path_;
    int saved_ = -1;
    std::string text_;
};

// MessagePack building with the C library.
class Pack {
  public:
    Pack() {
        msgpack_sbuffer_init(&sb_);
        msgpack_packer_init(&pk_, &sb_, msgpack_sbuffer_write);
    }
    ~Pack() { msgpack_sbuffer_destroy(&sb_); }
    Pack &array(uint32_t n) { return msgpack_pack_array(&pk_, n), *this; }
    Pack &map(uint32_t n) { return msgpack_pack_map(&pk_, n), *this; }
    Pack &str(const std::string &s) {
        msgpack_pack_str_with_body(&pk_, s.data(), s.size());
        return *this;
    }
    Pack &uint(uint64_t v) { return msgpack_pack_uint64(&pk_, v), *this; }
    Pack &sint(int64_t v) { return msgpack_pack_int64(&pk_, v), *this; }
    Pack &f64(double v) { return msgpack_pack_double(&pk_, v), *this; }
    Pack &f32(float v) { return msgpack_pack_float(&pk_, v), *this; }
    Pack &nil() { return msgpack_pack_nil(&pk_), *this; }
    Pack &event_time(uint32_t sec, uint32_t nsec, int8_t type = 0) {
        unsigned char b[8] = {
            static_cast<unsigned char>(sec >> 24),  static_cast<unsigned char>(sec >> 16),
            static_cast<unsigned char>(sec >> 8),   static_cast<unsigned char>(sec),
            static_cast<unsigned char>(nsec >> 24), static_cast<unsigned char>(nsec >> 16),
            static_cast<unsigned char>(nsec >> 8),  static_cast<unsigned char>(nsec)};
        msgpack_pack_ext_with_body(&pk_, b, 8, type);
        return *this;
    }
    Pack &raw(const std::string &bytes) {
        msgpack_sbuffer_write(&sb_, bytes.data(), bytes.size());
        return *this;
    }
    // {"msg": text}
    Pack &record(const std::string &text) { return map(1).str("msg").str(text); }
    std::string bytes() const { return std::string(sb_.data, sb_.size); }

  private:
    msgpack_sbuffer sb_;
    msgpack_packer pk_;
};

inline std::string hex(const char *h) {
    std::string digits, out;
    for (; *h; ++h)
        if (*h != ' ')
            digits += *h;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}

// An engine with one raw_msgpack input at a unique path and the outputs a test adds.
class TestEngine {
  public:
    TestEngine() : path_(unique_path("server")) {
        data_.server_path = path_.c_str();
        ctx_ = flb_create();
        flb_service_set(ctx_, "Flush", "0.05", "Grace", "1", NULL);
        in_ = flb_input(ctx_, "raw_msgpack", &data_);
    }
    ~TestEngine() {
        flb_stop(ctx_);
        flb_destroy(ctx_);
        unlink(path_.c_str());
    }
    flb_ctx_t *ctx() { return ctx_; }
    int input() const { return in_; }
    const std::string &path() const { return path_; }
    int add_output(const char *plugin) { return flb_output(ctx_, plugin, NULL); }
    bool start() { return flb_start(ctx_) == 0; }
    int stop() { return flb_stop(ctx_); }

  private:
    std::string path_;
    raw_input_data_t data_{};
    flb_ctx_t *ctx_ = nullptr;
    int in_ = -1;
};

} // namespace enginetest
