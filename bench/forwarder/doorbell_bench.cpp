// add_data round trips through the engine's "null" output, beside a bare Unix-datagram
// ping-pong between two threads measured in the same run with the same CPU placement:
// every thread pinned to CPU 0, or left to the scheduler.
//
// Counters: rt_us (add_data round trip), bare_rt_us (ping-pong round trip of the same
// count), ratio (rt_us / bare_rt_us; lower is better).
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "forwarder/postvane.h"

namespace {

using Clock = std::chrono::steady_clock;

// Restricts the calling thread (and the threads it creates from now on) to CPU 0, or
// gives it every CPU; the previous mask comes back at the end of the scope.
class Placement {
  public:
    explicit Placement(bool pinned) {
        sched_getaffinity(0, sizeof saved_, &saved_);
        if (pinned) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(0, &one);
            sched_setaffinity(0, sizeof one, &one);
        }
    }
    ~Placement() { sched_setaffinity(0, sizeof saved_, &saved_); }

  private:
    cpu_set_t saved_;
};

// A buffer of small events of about `size` bytes in all: {"i": n, "p": "..."} maps.
std::vector<uint8_t> events_of(size_t size) {
    std::vector<uint8_t> out;
    while (out.size() < size) {
        size_t pad = std::min<size_t>(size - out.size() > 16 ? size - out.size() - 12 : 1, 100);
        out.insert(out.end(), {0x82, 0xa1, 'i', 0x01, 0xa1, 'p', 0xd9, static_cast<uint8_t>(pad)});
        out.insert(out.end(), pad, 'x');
    }
    return out;
}

sockaddr_un address_of(const std::string &path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return a;
}

// The same exchange with nothing behind it: a thread that answers each 16-byte datagram.
double bare_round_trip_us(int64_t count) {
    const std::string base = "/tmp/pvbench_" + std::to_string(getpid());
    const std::string server_path = base + "_s", client_path = base + "_c";
    int server = socket(AF_UNIX, SOCK_DGRAM, 0), client = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un server_address = address_of(server_path), client_address = address_of(client_path);
    unlink(server_path.c_str());
    unlink(client_path.c_str());
    bind(server, reinterpret_cast<sockaddr *>(&server_address), sizeof server_address);
    bind(client, reinterpret_cast<sockaddr *>(&client_address), sizeof client_address);
    std::thread echo([&] {
        unsigned char m[16];
        for (int64_t i = 0; i < count; ++i) {
            sockaddr_un from{};
            socklen_t length = sizeof from;
            recvfrom(server, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&from), &length);
            sendto(server, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&from), length);
        }
    });
    unsigned char m[16] = {};
    auto start = Clock::now();
    for (int64_t i = 0; i < count; ++i) {
        sendto(client, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&server_address),
               sizeof server_address);
        recv(client, m, sizeof m, 0);
    }
    double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    echo.join();
    close(server);
    close(client);
    unlink(server_path.c_str());
    unlink(client_path.c_str());
    return us / static_cast<double>(count);
}

void BM_AddDataNullOutput(benchmark::State &state) {
    const size_t size = static_cast<size_t>(state.range(0));
    const bool pinned = state.range(1) != 0;
    Placement placement(pinned);
    raw_context_t *context = init("null", "", "", nullptr, "bench");
    if (context == nullptr) {
        state.SkipWithError("init failed");
        return;
    }
    std::vector<uint8_t> buffer = events_of(size);
    int failures = 0;
    auto start = Clock::now();
    for (auto _ : state)
        failures += add_data(context, buffer.data(), static_cast<int>(buffer.size())) != 0;
    double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
                static_cast<double>(state.iterations());
    finalize(context);
    if (failures != 0)
        state.SkipWithError("add_data failed");
    const double bare = bare_round_trip_us(state.iterations());
    state.counters["rt_us"] = us;
    state.counters["bare_rt_us"] = bare;
    state.counters["ratio"] = us / bare;
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(buffer.size()));
    state.SetLabel(pinned ? "pinned to CPU 0" : "unpinned");
}

BENCHMARK(BM_AddDataNullOutput)
    ->ArgNames({"bytes", "pinned"})
    ->ArgsProduct({{64, 64 * 1024}, {1, 0}})
    ->UseRealTime();

} // namespace

BENCHMARK_MAIN();
