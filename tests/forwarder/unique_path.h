// Socket and file paths that no other test process uses at the same time.
#pragma once

#include <unistd.h>

#include <atomic>
#include <string>

namespace forwarder_test {

inline std::string unique_path(const char *what) {
    static std::atomic<int> counter{0};
    return "/tmp/pvtest_" + std::string(what) + "_" + std::to_string(getpid()) + "_" +
           std::to_string(counter++);
}

} // namespace forwarder_test
