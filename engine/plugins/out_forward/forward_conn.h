// One TCP connection to the receiver, optionally under TLS. Every wait is bounded by a
// deadline and cut short by the instance's abort descriptor; nothing here blocks
// without one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/plugins/out_forward/forward_config.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace fwd {

using Clock = std::chrono::steady_clock;
using Deadline = Clock::time_point;

inline Deadline after_seconds(int s) { return Clock::now() + std::chrono::seconds(s); }

enum class Io { Ok, Closed, Timeout, Aborted, Failed };

const char *io_text(Io io);

// The TLS settings shared by every connection of one output.
class TlsContext {
public:
    TlsContext() = default;
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;
    ~TlsContext();
    // Loads CA, client certificate and key. False with `*error` on any failure.
    bool init(const ForwardConfig &config, std::string *error);
    SSL_CTX *get() const { return ctx_; }

private:
    SSL_CTX *ctx_ = nullptr;
};

struct Slice {
    const void *data;
    size_t size;
};

class Connection {
public:
    Connection() = default;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    ~Connection() { close(); }

    // Connects to the configured host and port (each resolved address in turn) and, with
    // `tls` not null, completes the TLS handshake, all before `deadline`.
    bool open(const ForwardConfig &config, SSL_CTX *tls, int abort_fd, Deadline deadline, std::string *error);
    bool is_open() const { return fd_ >= 0; }
    void close();

    // Writes every slice whole (at most 8). A wait of `stall` with no byte taken fails it.
    Io write_all(const Slice *parts, size_t count, Clock::duration stall, std::string *error);
    // Reads at least one byte, at most `cap`, before `deadline`; *got is the count.
    Io read_some(uint8_t *buf, size_t cap, size_t *got, Deadline deadline, std::string *error);
    // Between requests nothing is owed to us: true when the receiver hung up (or sent
    // something unasked), so the connection is not worth writing a chunk to.
    bool peer_gone();

private:
    bool connect_tcp(const ForwardConfig &config, Deadline deadline, std::string *error);
    bool start_tls(const ForwardConfig &config, SSL_CTX *tls, Deadline deadline, std::string *error);
    Io write_tls(const Slice *parts, size_t count, Clock::duration stall, std::string *error);
    // Waits for the TLS layer's wish after `ret` from an SSL call; Ok means "call again".
    Io tls_wait(int ret, Deadline deadline, std::string *error);

    int fd_ = -1;
    int abort_fd_ = -1;
    SSL *ssl_ = nullptr;
};

}  // namespace fwd
