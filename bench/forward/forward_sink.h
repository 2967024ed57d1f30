// A local forward-protocol receiver for the benchmarks: it reads and discards. It frames
// the stream into messages with the bounded scan, counts the records of each message from
// its "size" option, and answers {"ack": id} when a message asks for one.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace fwdbench {

class ForwardSink {
public:
    // frame=false: no parsing at all, only bytes are counted (for plain writes).
    explicit ForwardSink(bool frame);
    ~ForwardSink();
    ForwardSink(const ForwardSink &) = delete;
    ForwardSink &operator=(const ForwardSink &) = delete;

    int port() const { return port_; }
    uint64_t bytes() const { return bytes_.load(std::memory_order_relaxed); }
    uint64_t records() const { return records_.load(std::memory_order_relaxed); }

private:
    void accept_loop();
    void serve(int fd);

    bool frame_;
    int listen_fd_ = -1;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> bytes_{0};
    std::atomic<uint64_t> records_{0};
    std::mutex mu_;
    std::vector<int> fds_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

}  // namespace fwdbench
