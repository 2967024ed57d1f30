// Doorbell round trips through the engine with the "null" output, beside a bare Unix
// datagram ping-pong between two threads of this process with the same CPU placement:
// pinned (every thread on CPU 0, which the engine's threads inherit) and unpinned.
// Counters: round_trip_us (engine), bare_us (baseline measured in the same run) and
// ratio = round_trip_us / bare_us.
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "bench/engine/bench_buffers.h"
#include "engine/include/pv_engine.h"
#include "engine/include/raw_msgpack_wire.h"

namespace {

std::string temp_path(const char *what) {
    static std::atomic<int> n{0};
    return "/tmp/pvengine_bench_" + std::to_string(getpid()) + "_" + std::to_string(n++) + "_" +
           what;
}

sockaddr_un address(const std::string &path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    return a;
}

int bound_socket(const std::string &path) {
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un a = address(path);
    unlink(path.c_str());
    bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    return fd;
}

// Places the calling thread (and every thread it starts later) on CPU 0, or anywhere.
class Placement {
  public:
    explicit Placement(bool pinned) {
        pthread_getaffinity_np(pthread_self(), sizeof saved_, &saved_);
        if (pinned) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(0, &one);
            pthread_setaffinity_np(pthread_self(), sizeof one, &one);
        }
    }
    ~Placement() { pthread_setaffinity_np(pthread_self(), sizeof saved_, &saved_); }

  private:
    cpu_set_t saved_;
};

// Mean round trip in microseconds of a bare 16-byte ping-pong with an echo thread.
double bare_round_trip_us(int rounds) {
    std::string a_path = temp_path("ping"), b_path = temp_path("pong");
    int a = bound_socket(a_path), b = bound_socket(b_path);
    sockaddr_un to_b = address(b_path), to_a = address(a_path);
    std::thread echo([&] {
        char m[16];
        for (int i = 0; i < rounds; ++i) {
            recv(b, m, sizeof m, 0);
            sendto(b, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&to_a), sizeof to_a);
        }
    });
    char m[16] = {};
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        sendto(a, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&to_b), sizeof to_b);
        recv(a, m, sizeof m, 0);
    }
    auto end = std::chrono::steady_clock::now();
    echo.join();
    close(a);
    close(b);
    unlink(a_path.c_str());
    unlink(b_path.c_str());
    return std::chrono::duration<double, std::micro>(end - start).count() / rounds;
}

void BM_BareDatagramPingPong(benchmark::State &state) {
    Placement placement(state.range(0) != 0);
    std::string a_path = temp_path("ping"), b_path = temp_path("pong");
    int a = bound_socket(a_path), b = bound_socket(b_path);
    sockaddr_un to_b = address(b_path), to_a = address(a_path);
    std::atomic<bool> done{false};
    std::thread echo([&] {
        char m[16];
        while (recv(b, m, sizeof m, 0) == 16 && !done.load())
            sendto(b, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&to_a), sizeof to_a);
    });
    char m[16] = {};
    for (auto _ : state) {
        sendto(a, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&to_b), sizeof to_b);
        recv(a, m, sizeof m, 0);
    }
    done = true;
    sendto(a, m, sizeof m, 0, reinterpret_cast<sockaddr *>(&to_b), sizeof to_b);
    echo.join();
    close(a);
    close(b);
    unlink(a_path.c_str());
    unlink(b_path.c_str());
    state.SetLabel(state.range(0) ? "pinned to CPU 0" : "unpinned");
    state.counters["requests_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Args: buffer bytes, pinned.
void BM_EngineDoorbellNullOutput(benchmark::State &state) {
    Placement placement(state.range(1) != 0);
    const double bare_us = bare_round_trip_us(20000);
    std::string server = temp_path("server");
    raw_input_data_t data{0, server.c_str()};
    flb_ctx_t *ctx = flb_create();
    // A short flush and a large buffer, so that back-pressure never enters the figure.
    flb_service_set(ctx, "Flush", "0.02", "Grace", "1", "Log_Level", "error", NULL);
    int in = flb_input(ctx, "raw_msgpack", &data);
    flb_input_set(ctx, in, "Mem_Buf_Limit", "1G", NULL);
    flb_output(ctx, "null", NULL);
    if (flb_start(ctx) != 0) {
        state.SkipWithError("engine did not start");
        flb_destroy(ctx);
        return;
    }
    std::string client_path = temp_path("client");
    int client = bound_socket(client_path);
    sockaddr_un to = address(server);
    const std::string buffer = enginebench::small_events(static_cast<size_t>(state.range(0)));
    doorbell_msg_t req{};
    req.size = static_cast<int32_t>(buffer.size());
    req.data = const_cast<char *>(buffer.data());
    raw_msgpack_answer_t answer{};
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        sendto(client, &req, sizeof req, 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        if (recv(client, &answer, sizeof answer, 0) != 16 || answer.status != 0) {
            state.SkipWithError("request not accepted");
            break;
        }
    }
    auto end = std::chrono::steady_clock::now();
    flb_stop(ctx);
    flb_destroy(ctx);
    close(client);
    unlink(client_path.c_str());
    double rtt_us = std::chrono::duration<double, std::micro>(end - start).count() /
                    static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
    state.SetLabel(state.range(1) ? "pinned to CPU 0" : "unpinned");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
    state.counters["requests_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["round_trip_us"] = rtt_us;
    state.counters["bare_us"] = bare_us;
    state.counters["ratio"] = rtt_us / bare_us;
}

} // namespace

BENCHMARK(BM_BareDatagramPingPong)->Arg(1)->Arg(0)->UseRealTime();
BENCHMARK(BM_EngineDoorbellNullOutput)
    ->Args({64, 1})
    ->Args({64, 0})
    ->Args({65536, 1})
    ->Args({65536, 0})
    ->UseRealTime();

BENCHMARK_MAIN();
