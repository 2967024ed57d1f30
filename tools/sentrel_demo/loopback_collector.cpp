#include "tools/sentrel_demo/loopback_collector.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/sentrel_demo/netflow_wire.h"

namespace demo {

bool LoopbackCollector::start(uint32_t max_packet_size, std::string &error) {
    max_packet_size_ = max_packet_size;
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) {
        error = std::string("socket: ") + strerror(errno);
        return false;
    }
    // Loopback drops datagrams once the receive buffer is full; give it room.
    int room = 8 << 20;
    if (setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    int granted = 0;
    socklen_t granted_len = sizeof granted;
    if (getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &granted_len) == 0 && granted / 4096 > 16)
        queue_packets_ = static_cast<uint64_t>(granted / 4096);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd_, reinterpret_cast<sockaddr *>(&a), len) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        error = std::string("bind: ") + strerror(errno);
        return false;
    }
    port_ = ntohs(a.sin_port);
    thread_ = std::thread(&LoopbackCollector::run, this);
    return true;
}

void LoopbackCollector::stop() {
    if (thread_.joinable()) {
        stopping_.store(true, std::memory_order_release);
        thread_.join();
    }
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

void LoopbackCollector::run() {
    std::vector<uint8_t> buf(65536);
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        int ready = poll(&p, 1, 50);
        if (ready == 1) {
            ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
            if (n >= 0)
                decode(buf.data(), static_cast<size_t>(n));
            continue;
        }
        // Stop only once nothing is left waiting in the socket.
        if (stopping_.load(std::memory_order_acquire))
            break;
    }
}

void LoopbackCollector::problem(uint64_t &counter, const std::string &what) {
    ++counter;
    if (tally_.first_problem.empty())
        tally_.first_problem = what;
}

// Walks one export packet with the room left after each step checked before reading.
void LoopbackCollector::decode(const uint8_t *p, size_t n) {
    tally_.packets++;
    tally_.bytes += n;
    if (max_packet_size_ && n > max_packet_size_)
        problem(tally_.oversized, "packet of " + std::to_string(n) + " bytes");
    if (max_packet_size_ && n % 4)
        problem(tally_.unaligned, "packet of " + std::to_string(n) + " bytes is not padded");
    if (n < kNetflowHeaderSize || get_be16(p) != 9) {
        problem(tally_.malformed, "not a NetFlow v9 header");
        packets_.store(tally_.packets, std::memory_order_release);
        return;
    }
    uint32_t count = get_be16(p + 2);
    uint32_t sequence = get_be32(p + 12);
    if (have_sequence_ && sequence != tally_.last_sequence + 1)
        problem(tally_.out_of_order, "sequence " + std::to_string(sequence) + " after " +
                                         std::to_string(tally_.last_sequence));
    if (!have_sequence_)
        tally_.first_sequence = sequence;
    if (!sequences_.insert(sequence).second)
        ++tally_.duplicate_sequences;
    have_sequence_ = true;
    tally_.last_sequence = sequence;

    uint32_t carried = 0;
    size_t at = kNetflowHeaderSize;
    while (n - at >= 4) {
        uint32_t id = get_be16(p + at);
        uint32_t length = get_be16(p + at + 2);
        if (length < 4 || length > n - at) {
            problem(tally_.malformed, "FlowSet length " + std::to_string(length));
            break;
        }
        const uint8_t *body = p + at + 4;
        size_t left = length - 4;
        if (id == 0) { // template FlowSet: template id, field count, specifiers
            while (left >= 4) {
                uint32_t tid = get_be16(body), fields = get_be16(body + 2);
                if (left < 4 + 4 * size_t{fields})
                    break;
                uint32_t record_length = 0;
                for (uint32_t i = 0; i < fields; ++i)
                    record_length += get_be16(body + 6 + 4 * i);
                record_lengths_[tid] = record_length;
                ++carried;
                body += 4 + 4 * fields;
                left -= 4 + 4 * fields;
            }
        } else if (id >= 256) {
            auto t = record_lengths_.find(id);
            if (t == record_lengths_.end() || t->second == 0) {
                problem(tally_.unknown_template,
                        "data FlowSet " + std::to_string(id) + " without template");
            } else {
                size_t records = left / t->second;
                if (left - records * t->second >= 4)
                    problem(tally_.malformed, "data FlowSet padding of " +
                                                  std::to_string(left - records * t->second));
                for (size_t i = 0; i < records; ++i)
                    tally_.digest += record_digest(body + i * t->second, t->second);
                tally_.records += records;
                carried += static_cast<uint32_t>(records);
            }
        }
        at += length;
    }
    if (carried != count)
        problem(tally_.count_mismatches,
                "Count " + std::to_string(count) + " for " + std::to_string(carried) + " records");
    records_.store(tally_.records, std::memory_order_release);
    packets_.store(tally_.packets, std::memory_order_release);
}

bool LoopbackCollector::sequences_contiguous() const {
    if (sequences_.empty())
        return true;
    return tally_.duplicate_sequences == 0 &&
           *sequences_.rbegin() - *sequences_.begin() + 1 == sequences_.size();
}

} // namespace demo
