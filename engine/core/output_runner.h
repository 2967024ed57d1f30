// One output instance and the thread it runs on: a queue of sealed chunks per tag, the
// retry schedule with backoff, and the stop with Grace.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "engine/core/chunks.h"
#include "engine/output_api.h"

namespace engine {

using Clock = std::chrono::steady_clock;

// The wait before retry number n (from 1): about 1 s, doubling, capped at 30 s.
Clock::duration retry_backoff(int retry);

class OutputRunner {
  public:
    OutputRunner(const OutputPlugin *plugin, std::string name);
    ~OutputRunner();
    OutputRunner(const OutputRunner &) = delete;
    OutputRunner &operator=(const OutputRunner &) = delete;

    Instance &instance() { return ins_; }
    const Instance &instance() const { return ins_; }
    // Whether the output routes tag (no Match: every tag). Fixed once started.
    bool routes(const std::string &tag) const;

    // Starts the thread and runs the plugin's init on it. False when init failed; the
    // thread has then ended.
    bool start();
    // Queues a chunk behind the earlier ones of its tag.
    void enqueue(ChunkRef chunk);
    // The engine is stopping: chunks waiting for a retry are tried at once, and nothing
    // is tried after deadline.
    void begin_stop(Clock::time_point deadline);
    // Waits until the queue is empty or deadline has passed; at deadline the abort
    // descriptor is signalled. Joins the thread, runs exit and returns the number of
    // records that were never delivered.
    size_t finish(Clock::time_point deadline);

  private:
    struct Pending {
        ChunkRef chunk;
        int retries = 0;
        Clock::time_point not_before{};
    };
    void run();
    void drop(const Pending &p, const char *why);

    Instance ins_;
    int retry_limit_ = 5; // -1: no limit
    std::string match_;
    bool has_match_ = false;

    std::thread thread_;
    std::mutex mu_;
    std::condition_variable cv_;
    std::map<std::string, std::deque<Pending>> queues_;
    size_t queued_ = 0;
    bool busy_ = false; // a flush is running
    bool stopping_ = false;
    bool aborted_ = false;
    bool init_done_ = false;
    bool init_ok_ = false;
    bool exited_ = false;
    Clock::time_point deadline_{};
    size_t dropped_ = 0;
};

} // namespace engine
