#include "engine/plugins/out_forward/forward_conn.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace fwd {

const char *io_text(Io io) {
    switch (io) {
    case Io::Ok: return "ok";
    case Io::Closed: return "connection closed by the receiver";
    case Io::Timeout: return "timed out";
    case Io::Aborted: return "aborted by the engine's stop";
    case Io::Failed: return "I/O error";
    }
    return "?";
}

namespace {

// Waits until `fd` has one of `events`, the deadline passes or abort_fd fires.
Io wait_fd(int fd, short events, Deadline deadline, int abort_fd) {
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Io::Timeout;
        pollfd p[2] = {{fd, events, 0}, {abort_fd, POLLIN, 0}};
        int n = poll(p, abort_fd >= 0 ? 2 : 1, left > 60000 ? 60000 : static_cast<int>(left) + 1);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Io::Failed;
        }
        if (abort_fd >= 0 && (p[1].revents & POLLIN))
            return Io::Aborted;
        if (p[0].revents)
            return Io::Ok;
    }
}

std::string ssl_error_text() {
    unsigned long e = ERR_get_error();
    if (e == 0)
        return "TLS error";
    char buf[256];
    ERR_error_string_n(e, buf, sizeof buf);
    ERR_clear_error();
    return buf;
}

// A socket BIO that sends with MSG_NOSIGNAL: a receiver that hangs up must give an
// error, not a SIGPIPE that ends the host process.
int nosig_write(BIO *b, const char *buf, int len) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(b)));
    BIO_clear_retry_flags(b);
    ssize_t n = send(fd, buf, static_cast<size_t>(len), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_write(b);
    return static_cast<int>(n);
}

int nosig_read(BIO *b, char *buf, int len) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(b)));
    BIO_clear_retry_flags(b);
    ssize_t n = recv(fd, buf, static_cast<size_t>(len), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        BIO_set_retry_read(b);
    return static_cast<int>(n);
}

long nosig_ctrl(BIO *, int cmd, long, void *) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int nosig_create(BIO *b) {
    BIO_set_init(b, 1);
    return 1;
}

const BIO_METHOD *nosig_method() {
    static BIO_METHOD *method = [] {
        BIO_METHOD *m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "forward socket");
        if (m) {
            BIO_meth_set_write(m, nosig_write);
            BIO_meth_set_read(m, nosig_read);
            BIO_meth_set_ctrl(m, nosig_ctrl);
            BIO_meth_set_create(m, nosig_create);
        }
        return m;
    }();
    return method;
}

bool is_ip_literal(const std::string &host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

}  // namespace

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

bool TlsContext::init(const ForwardConfig &c, std::string *error) {
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) {
        *error = "cannot create the TLS context: " + ssl_error_text();
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (c.tls_verify) {
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        bool loaded = c.tls_ca_file.empty() ? SSL_CTX_set_default_verify_paths(ctx_) == 1
                                            : SSL_CTX_load_verify_locations(ctx_, c.tls_ca_file.c_str(), nullptr) == 1;
        if (!loaded) {
            *error = "cannot load the CA certificates '" + c.tls_ca_file + "': " + ssl_error_text();
            return false;
        }
    } else {
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    }
    if (!c.tls_crt_file.empty()) {
        if (SSL_CTX_use_certificate_chain_file(ctx_, c.tls_crt_file.c_str()) != 1) {
            *error = "cannot load tls.crt_file '" + c.tls_crt_file + "': " + ssl_error_text();
            return false;
        }
        if (SSL_CTX_use_PrivateKey_file(ctx_, c.tls_key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_check_private_key(ctx_) != 1) {
            *error = "cannot use tls.key_file '" + c.tls_key_file + "': " + ssl_error_text();
            return false;
        }
    }
    if (!nosig_method()) {
        *error = "cannot create the TLS socket layer";
        return false;
    }
    return true;
}

void Connection::close() {
    if (ssl_) {
        // No close_notify: the peer may be gone, and a blocking shutdown would wait.
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

bool Connection::open(const ForwardConfig &config, SSL_CTX *tls, int abort_fd, Deadline deadline,
                      std::string *error) {
    close();
    abort_fd_ = abort_fd;
    if (!connect_tcp(config, deadline, error))
        return false;
    if (tls && !start_tls(config, tls, deadline, error)) {
        close();
        return false;
    }
    return true;
}

bool Connection::connect_tcp(const ForwardConfig &config, Deadline deadline, std::string *error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    int rc = getaddrinfo(config.host.c_str(), config.port.c_str(), &hints, &list);
    if (rc != 0) {
        *error = std::string("cannot resolve: ") + gai_strerror(rc);
        return false;
    }
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owner(list, freeaddrinfo);
    *error = "no address";
    for (addrinfo *ai = list; ai; ai = ai->ai_next) {
        int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
        if (fd < 0) {
            *error = std::string("socket: ") + strerror(errno);
            continue;
        }
        int err = 0;
        if (connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                Io w = wait_fd(fd, POLLOUT, deadline, abort_fd_);
                if (w != Io::Ok) {
                    ::close(fd);
                    *error = std::string("connect ") + io_text(w);
                    if (w == Io::Aborted || w == Io::Timeout)
                        return false;
                    continue;
                }
                socklen_t len = sizeof err;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
            }
        }
        if (err != 0) {
            ::close(fd);
            *error = std::string("connect: ") + strerror(err);
            continue;
        }
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fd_ = fd;
        return true;
    }
    return false;
}

Io Connection::tls_wait(int ret, Deadline deadline, std::string *error) {
    int e = SSL_get_error(ssl_, ret);
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        Io w = wait_fd(fd_, e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline, abort_fd_);
        if (w != Io::Ok)
            *error = io_text(w);
        return w;
    }
    if (e == SSL_ERROR_ZERO_RETURN || (e == SSL_ERROR_SYSCALL && ERR_peek_error() == 0 && ret == 0)) {
        *error = io_text(Io::Closed);
        return Io::Closed;
    }
    *error = e == SSL_ERROR_SYSCALL ? std::string(strerror(errno)) : ssl_error_text();
    return Io::Failed;
}

bool Connection::start_tls(const ForwardConfig &config, SSL_CTX *tls, Deadline deadline, std::string *error) {
    ERR_clear_error();
    ssl_ = SSL_new(tls);
    BIO *bio = ssl_ ? BIO_new(nosig_method()) : nullptr;
    if (!bio) {
        *error = "TLS: " + ssl_error_text();
        return false;
    }
    BIO_set_data(bio, reinterpret_cast<void *>(static_cast<intptr_t>(fd_)));
    SSL_set_bio(ssl_, bio, bio);
    const std::string &name = config.tls_vhost.empty() ? config.host : config.tls_vhost;
    if (!is_ip_literal(name))
        SSL_set_tlsext_host_name(ssl_, name.c_str());
    if (config.tls_verify) {
        X509_VERIFY_PARAM *param = SSL_get0_param(ssl_);
        bool ok = is_ip_literal(name) ? X509_VERIFY_PARAM_set1_ip_asc(param, name.c_str()) == 1
                                      : X509_VERIFY_PARAM_set1_host(param, name.c_str(), 0) == 1;
        if (!ok) {
            *error = "TLS: cannot check the name '" + name + "'";
            return false;
        }
    }
    for (;;) {
        ERR_clear_error();
        int ret = SSL_connect(ssl_);
        if (ret == 1)
            return true;
        long verify = SSL_get_verify_result(ssl_);
        if (config.tls_verify && verify != X509_V_OK) {
            *error = std::string("TLS handshake failed: certificate verify failed: ") +
                     X509_verify_cert_error_string(verify);
            return false;
        }
        std::string why;
        Io w = tls_wait(ret, deadline, &why);
        if (w != Io::Ok) {
            *error = "TLS handshake failed: " + why;
            return false;
        }
    }
}

Io Connection::write_all(const Slice *parts, size_t count, Clock::duration stall, std::string *error) {
    if (fd_ < 0) {
        *error = "not connected";
        return Io::Failed;
    }
    if (ssl_)
        return write_tls(parts, count, stall, error);
    // One sendmsg over all slices: the message leaves in as few segments as it can.
    constexpr size_t kMaxParts = 8;
    if (count > kMaxParts) {
        *error = "too many parts in one write";
        return Io::Failed;
    }
    iovec iov[kMaxParts];
    size_t n_iov = 0;
    for (size_t i = 0; i < count; ++i)
        if (parts[i].size)
            iov[n_iov++] = {const_cast<void *>(parts[i].data), parts[i].size};
    size_t first = 0;
    Deadline deadline = Clock::now() + stall;
    while (first < n_iov) {
        msghdr msg{};
        msg.msg_iov = iov + first;
        msg.msg_iovlen = n_iov - first;
        ssize_t n = sendmsg(fd_, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                *error = strerror(errno);
                return errno == EPIPE || errno == ECONNRESET ? Io::Closed : Io::Failed;
            }
            Io w = wait_fd(fd_, POLLOUT, deadline, abort_fd_);
            if (w != Io::Ok) {
                *error = std::string("write ") + io_text(w);
                return w;
            }
            continue;
        }
        size_t done = static_cast<size_t>(n);
        while (first < n_iov && done >= iov[first].iov_len)
            done -= iov[first++].iov_len;
        if (first < n_iov) {
            iov[first].iov_base = static_cast<char *>(iov[first].iov_base) + done;
            iov[first].iov_len -= done;
        }
        deadline = Clock::now() + stall;
    }
    return Io::Ok;
}

Io Connection::write_tls(const Slice *parts, size_t count, Clock::duration stall, std::string *error) {
    for (size_t i = 0; i < count; ++i) {
        const char *p = static_cast<const char *>(parts[i].data);
        size_t left = parts[i].size;
        Deadline deadline = Clock::now() + stall;
        while (left > 0) {
            ERR_clear_error();
            int chunk = left > (1u << 30) ? (1 << 30) : static_cast<int>(left);
            int ret = SSL_write(ssl_, p, chunk);
            if (ret <= 0) {
                Io w = tls_wait(ret, deadline, error);
                if (w != Io::Ok) {
                    if (w == Io::Timeout)
                        *error = "write timed out";
                    return w;
                }
                continue;
            }
            p += ret;
            left -= static_cast<size_t>(ret);
            deadline = Clock::now() + stall;
        }
    }
    return Io::Ok;
}

Io Connection::read_some(uint8_t *buf, size_t cap, size_t *got, Deadline deadline, std::string *error) {
    *got = 0;
    if (fd_ < 0) {
        *error = "not connected";
        return Io::Failed;
    }
    for (;;) {
        if (ssl_) {
            ERR_clear_error();
            int ret = SSL_read(ssl_, buf, cap > (1u << 30) ? (1 << 30) : static_cast<int>(cap));
            if (ret > 0) {
                *got = static_cast<size_t>(ret);
                return Io::Ok;
            }
            Io w = tls_wait(ret, deadline, error);
            if (w != Io::Ok)
                return w;
            continue;
        }
        ssize_t n = recv(fd_, buf, cap, 0);
        if (n > 0) {
            *got = static_cast<size_t>(n);
            return Io::Ok;
        }
        if (n == 0) {
            *error = io_text(Io::Closed);
            return Io::Closed;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            *error = strerror(errno);
            return errno == ECONNRESET ? Io::Closed : Io::Failed;
        }
        Io w = wait_fd(fd_, POLLIN, deadline, abort_fd_);
        if (w != Io::Ok) {
            *error = io_text(w);
            return w;
        }
    }
}

bool Connection::peer_gone() {
    if (fd_ < 0)
        return true;
    pollfd p = {fd_, static_cast<short>(POLLIN | POLLRDHUP), 0};
    if (poll(&p, 1, 0) <= 0)
        return false;
    if (p.revents & (POLLERR | POLLHUP | POLLRDHUP | POLLNVAL))
        return true;
    if (ssl_) {
        // TLS 1.3 servers send session tickets after the handshake; reading consumes
        // them and shows whether anything else (data, an alert, the end) came.
        uint8_t byte;
        ERR_clear_error();
        int ret = SSL_read(ssl_, &byte, 1);
        if (ret > 0)
            return true;
        int e = SSL_get_error(ssl_, ret);
        ERR_clear_error();
        return e != SSL_ERROR_WANT_READ && e != SSL_ERROR_WANT_WRITE;
    }
    return true;  // data nobody asked for, or the end of the stream
}

}  // namespace fwd
