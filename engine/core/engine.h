// The engine behind the library interface: configuration, the event loop thread with
// the flush timer and the inputs' descriptors, routing of sealed chunks to the output
// runners, and the stop with Grace.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/chunks.h"
#include "engine/core/output_runner.h"
#include "engine/input_api.h"

namespace engine {

class Engine {
  public:
    Engine();
    ~Engine();
    Engine(const Engine &) = delete;
    Engine &operator=(const Engine &) = delete;

    bool valid() const { return wake_fd_ >= 0 && epoll_fd_ >= 0 && timer_fd_ >= 0; }

    // Each returns 0 (or a handle), or -1 after logging why.
    int service_set(const char *key, const char *value);
    int input(const char *name, void *data);
    int input_set(int handle, const char *key, const char *value);
    int output(const char *name);
    int output_set(int handle, const char *key, const char *value);
    int start();
    int stop();

  private:
    struct InputEntry {
        InputInstance ins;
        std::unique_ptr<InputBuffer> buffer;
        int fd = -1;
        bool watched = false;
        bool started = false;
    };
    enum class State { Configuring, Running, Stopped };

    bool configurable(const char *what, const char *key, const char *value) const;
    void run_loop();
    void dispatch_sealed();
    void set_watch(InputEntry &in, bool on);
    void resume_paused();
    void stop_inputs();
    void arm_flush_timer();
    void stop_outputs(size_t started);

    State state_ = State::Configuring;
    double flush_seconds_ = 1.0;
    long long grace_seconds_ = 5;
    std::vector<std::unique_ptr<InputEntry>> inputs_;
    std::vector<std::unique_ptr<OutputRunner>> outputs_;
    int epoll_fd_ = -1;
    int wake_fd_ = -1;
    int timer_fd_ = -1;
    std::thread loop_;
    std::atomic<bool> stop_requested_{false};
};

} // namespace engine
