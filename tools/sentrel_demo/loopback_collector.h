// A NetFlow v9 collector on a loopback UDP socket, run on a thread of its own: decodes
// every datagram, learns templates, counts records and checks packet numbering.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace demo {

struct CollectorTally {
    uint64_t packets = 0;
    uint64_t bytes = 0;
    uint64_t records = 0;
    uint64_t digest = 0;
    uint64_t malformed = 0;        // datagrams that do not decode as NetFlow v9
    uint64_t count_mismatches = 0; // header Count differs from the records carried
    uint64_t unknown_template = 0; // data FlowSets before their template
    uint64_t out_of_order = 0;     // sequence number not the previous one plus one
    uint64_t oversized = 0;        // longer than the maximum packet size
    uint64_t unaligned = 0;        // length not a multiple of 4
    uint64_t duplicate_sequences = 0;
    uint32_t first_sequence = 0, last_sequence = 0;
    std::string first_problem;
};

class LoopbackCollector {
  public:
    LoopbackCollector() = default;
    ~LoopbackCollector() { stop(); }

    // Binds 127.0.0.1 on a free port and starts the receiving thread.
    bool start(uint32_t max_packet_size, std::string &error);
    uint16_t port() const { return port_; }
    // Datagrams the receive queue surely holds: the room the kernel granted, at a
    // conservative 4 KiB of accounting per datagram.
    uint64_t queue_packets() const { return queue_packets_; }
    // Records received so far; readable while the thread runs.
    uint64_t records() const { return records_.load(std::memory_order_acquire); }
    uint64_t packets() const { return packets_.load(std::memory_order_acquire); }
    void stop();
    // The final tally; call after stop().
    const CollectorTally &tally() const { return tally_; }
    // Sequence numbers form one contiguous run without repeats (order aside).
    bool sequences_contiguous() const;

  private:
    void run();
    void decode(const uint8_t *p, size_t n);
    void problem(uint64_t &counter, const std::string &what);

    int fd_ = -1;
    uint16_t port_ = 0;
    uint64_t queue_packets_ = 16;
    uint32_t max_packet_size_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint64_t> records_{0}, packets_{0};
    CollectorTally tally_;
    std::map<uint32_t, uint32_t> record_lengths_; // template id -> record length
    std::set<uint32_t> sequences_;
    bool have_sequence_ = false;
};

} // namespace demo
