// Ends the test process when a wait never returns. It only catches hangs: the limit is
// far beyond any normal run and no test result depends on how long something took.
#pragma once

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace forwarder_test {

class Watchdog {
  public:
    explicit Watchdog(const char *what, std::chrono::seconds limit = std::chrono::seconds(120))
        : thread_([this, what, limit] {
              std::unique_lock<std::mutex> lock(mutex_);
              if (!cv_.wait_for(lock, limit, [this] { return done_; })) {
                  fprintf(stderr, "watchdog: '%s' hung\n", what);
                  _exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace forwarder_test
