// lwrb_write + lwrb_read throughput through a 64 KiB ring, beside memcpy of the same
// bytes (one copy; the ring copies every byte twice) and boost::lockfree::spsc_queue
// <uint8_t> of the same capacity, all in the same run. Single thread (write then read)
// and producer/consumer on two threads.
//
// Counters: MBps (ring), memcpy_MBps, spsc_MBps, vs_memcpy and vs_spsc (ring / baseline;
// higher is better).
#include <benchmark/benchmark.h>

#include <atomic>
#include <boost/lockfree/spsc_queue.hpp>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "forwarder/lwrb.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kRing = 64 * 1024;
constexpr size_t kStreamBytes = 16 * 1024 * 1024; // per two-thread pass

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void report(benchmark::State &state, double bytes, double ring_s, double memcpy_s, double spsc_s) {
    const double mb = bytes / 1e6;
    state.counters["MBps"] = mb / ring_s;
    state.counters["memcpy_MBps"] = mb / memcpy_s;
    state.counters["spsc_MBps"] = mb / spsc_s;
    state.counters["vs_memcpy"] = memcpy_s / ring_s;
    state.counters["vs_spsc"] = spsc_s / ring_s;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

double memcpy_seconds(size_t chunk, int64_t count) {
    std::vector<uint8_t> in(chunk, 7), out(chunk);
    auto start = Clock::now();
    for (int64_t i = 0; i < count; ++i) {
        memcpy(out.data(), in.data(), chunk);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    return seconds_since(start);
}

void BM_RingSingleThread(benchmark::State &state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> storage(kRing), in(chunk, 7), out(chunk);
    lwrb_ring_t ring;
    lwrb_init(&ring, storage.data(), storage.size());
    auto start = Clock::now();
    for (auto _ : state) {
        lwrb_write(&ring, in.data(), chunk);
        benchmark::DoNotOptimize(lwrb_read(&ring, out.data(), chunk));
        benchmark::ClobberMemory();
    }
    const double ring_s = seconds_since(start);
    const int64_t n = state.iterations();

    boost::lockfree::spsc_queue<uint8_t> queue(kRing);
    start = Clock::now();
    for (int64_t i = 0; i < n; ++i) {
        queue.push(in.data(), chunk);
        benchmark::DoNotOptimize(queue.pop(out.data(), chunk));
        benchmark::ClobberMemory();
    }
    const double spsc_s = seconds_since(start);
    report(state, static_cast<double>(chunk) * n, ring_s, memcpy_seconds(chunk, n), spsc_s);
}

// Moves kStreamBytes from a producer thread to this thread in `chunk` pieces.
template <typename Push, typename Pop>
double stream_seconds(size_t chunk, Push push, Pop pop) {
    std::vector<uint8_t> in(chunk, 7), out(chunk);
    auto start = Clock::now();
    std::thread producer([&] {
        size_t sent = 0;
        while (sent < kStreamBytes) {
            size_t n = push(in.data(), std::min(chunk, kStreamBytes - sent));
            if (n == 0)
                std::this_thread::yield();
            sent += n;
        }
    });
    size_t received = 0;
    while (received < kStreamBytes) {
        size_t n = pop(out.data(), chunk);
        if (n == 0)
            std::this_thread::yield();
        received += n;
    }
    producer.join();
    return seconds_since(start);
}

void BM_RingTwoThreads(benchmark::State &state) {
    const size_t chunk = static_cast<size_t>(state.range(0));
    std::vector<uint8_t> storage(kRing);
    double ring_s = 0, spsc_s = 0;
    for (auto _ : state) {
        lwrb_ring_t ring;
        lwrb_init(&ring, storage.data(), storage.size());
        ring_s += stream_seconds(
            chunk, [&](const uint8_t *p, size_t n) { return lwrb_write(&ring, p, n); },
            [&](uint8_t *p, size_t n) { return lwrb_read(&ring, p, n); });
    }
    const int64_t n = state.iterations();
    for (int64_t i = 0; i < n; ++i) {
        boost::lockfree::spsc_queue<uint8_t> queue(kRing);
        spsc_s += stream_seconds(
            chunk, [&](const uint8_t *p, size_t k) { return queue.push(p, k); },
            [&](uint8_t *p, size_t k) { return queue.pop(p, k); });
    }
    const double bytes = static_cast<double>(kStreamBytes) * n;
    report(state, bytes, ring_s, memcpy_seconds(chunk, n * static_cast<int64_t>(kStreamBytes / chunk)),
           spsc_s);
}

BENCHMARK(BM_RingSingleThread)->ArgName("bytes")->Arg(64)->Arg(1024)->Arg(16 * 1024);
BENCHMARK(BM_RingTwoThreads)->ArgName("bytes")->Arg(64)->Arg(1024)->Arg(16 * 1024)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
