// Aborts the test program if a wait hangs. It measures nothing: the limit is far beyond
// any normal run and only turns a hang into a failure.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace logtest {

class Watchdog {
  public:
    explicit Watchdog(std::chrono::seconds limit = std::chrono::seconds(300))
        : thread_([this, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
                  fprintf(stderr, "watchdog: test hung\n");
                  abort();
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_one();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace logtest
