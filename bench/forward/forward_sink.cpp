#include "bench/forward/forward_sink.h"

#include <arpa/inet.h>
#include <msgpack.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "engine/plugins/out_forward/reply_scan.h"
#include "fixture/loopback_tcp.h"

namespace fwdbench {

namespace {

size_t object_len(const uint8_t *p, size_t n) {
    auto s = fwd::scan_stream_object(p, n, n, fwd::kMaxEventDepth);
    return s.status == fwd::ScanStatus::Complete ? s.length : 0;
}

}  // namespace

ForwardSink::ForwardSink(bool frame) : frame_(frame) {
    uint16_t port = 0;
    listen_fd_ = testhost::listen_loopback_tcp(16, &port);
    if (port)
        port_ = port;
    acceptor_ = std::thread([this] { accept_loop(); });
}

ForwardSink::~ForwardSink() {
    stop_ = true;
    acceptor_.join();
    {
        std::lock_guard<std::mutex> lk(mu_);
        for (int fd : fds_)
            shutdown(fd, SHUT_RDWR);
    }
    for (auto &t : workers_)
        t.join();
    for (int fd : fds_)
        close(fd);
    close(listen_fd_);
}

void ForwardSink::accept_loop() {
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        std::lock_guard<std::mutex> lk(mu_);
        fds_.push_back(fd);
        workers_.emplace_back([this, fd] { serve(fd); });
    }
}

void ForwardSink::serve(int fd) {
    std::vector<uint8_t> buf(1 << 20);
    size_t have = 0;
    msgpack_unpacked option;
    msgpack_unpacked_init(&option);
    for (;;) {
        if (have == buf.size())
            buf.resize(buf.size() * 2);
        ssize_t n = recv(fd, buf.data() + have, buf.size() - have, 0);
        if (n <= 0)
            break;
        bytes_.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
        if (!frame_)
            continue;
        have += static_cast<size_t>(n);
        size_t start = 0;
        for (;;) {
            auto s = fwd::scan_stream_object(buf.data() + start, have - start, 256u << 20, fwd::kMaxEventDepth);
            if (s.status == fwd::ScanStatus::Invalid) {
                msgpack_unpacked_destroy(&option);
                return;
            }
            if (s.status == fwd::ScanStatus::Incomplete)
                break;
            const uint8_t *m = buf.data() + start;
            // [tag, bin, option]: skip the tag and the entries, decode only the option map.
            if (m[0] == 0x93) {
                size_t tag = object_len(m + 1, s.length - 1);
                size_t bin = tag ? object_len(m + 1 + tag, s.length - 1 - tag) : 0;
                size_t at = 1 + tag + bin;
                size_t off = 0;
                if (bin && msgpack_unpack_next(&option, reinterpret_cast<const char *>(m + at), s.length - at, &off) ==
                               MSGPACK_UNPACK_SUCCESS &&
                    option.data.type == MSGPACK_OBJECT_MAP) {
                    const msgpack_object_map &map = option.data.via.map;
                    for (uint32_t i = 0; i < map.size; ++i) {
                        const msgpack_object &k = map.ptr[i].key, &v = map.ptr[i].val;
                        if (k.type != MSGPACK_OBJECT_STR)
                            continue;
                        std::string key(k.via.str.ptr, k.via.str.size);
                        if (key == "size" && v.type == MSGPACK_OBJECT_POSITIVE_INTEGER)
                            records_.fetch_add(v.via.u64, std::memory_order_relaxed);
                        if (key == "chunk" && v.type == MSGPACK_OBJECT_STR) {
                            std::string ack = "\x81\xa3"
                                              "ack";
                            ack.push_back(static_cast<char>(0xd9));
                            ack.push_back(static_cast<char>(v.via.str.size));
                            ack.append(v.via.str.ptr, v.via.str.size);
                            testhost::send_all(fd, ack);
                        }
                    }
                }
            }
            start += s.length;
        }
        memmove(buf.data(), buf.data() + start, have - start);
        have -= start;
    }
    msgpack_unpacked_destroy(&option);
}

}  // namespace fwdbench
