// Decode and buffer throughput of the raw_msgpack input: a 64 KiB buffer of small events
// validated, decoded and appended to a chunk, beside memcpy of the same bytes (measured in
// the same run), for the engine's decoder and the object-based reference decoder.
// Counter ratio_vs_memcpy = decoder MB/s / memcpy MB/s.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "bench/engine/bench_buffers.h"
#include "engine/fuzz/reference_decoder.h"
#include "engine/plugins/in_raw_msgpack/event_decoder.h"

namespace {

const std::string &buffer() {
    static const std::string b = enginebench::small_events(64 * 1024);
    return b;
}

double memcpy_bytes_per_s() {
    const std::string &b = buffer();
    std::vector<char> dst(b.size());
    const int rounds = 20000;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) {
        memcpy(dst.data(), b.data(), b.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    auto end = std::chrono::steady_clock::now();
    return static_cast<double>(b.size()) * rounds /
           std::chrono::duration<double>(end - start).count();
}

void BM_Memcpy64KiB(benchmark::State &state) {
    const std::string &b = buffer();
    std::vector<char> dst(b.size());
    for (auto _ : state) {
        memcpy(dst.data(), b.data(), b.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.size()));
}

using Decoder = engine::DecodeOutcome (*)(const uint8_t *, size_t, engine::EventTime,
                                          std::string &);

// Arg 0: the engine's decoder; 1: the reference decoder (library objects, packed again).
void BM_DecodeAndBuffer64KiB(benchmark::State &state) {
    const Decoder decode =
        state.range(0) == 0 ? engine::decode_events : enginetest::reference_decode_events;
    state.SetLabel(state.range(0) == 0 ? "engine decoder (span copy)"
                                       : "reference (msgpack objects)");
    const std::string &b = buffer();
    const double baseline = memcpy_bytes_per_s();
    std::string chunk;
    chunk.reserve(2 * b.size());
    size_t records = 0;
    auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        chunk.clear();
        engine::DecodeOutcome r =
            decode(reinterpret_cast<const uint8_t *>(b.data()), b.size(), {1, 2}, chunk);
        records = r.records;
        benchmark::DoNotOptimize(chunk.data());
    }
    auto end = std::chrono::steady_clock::now();
    double rate = static_cast<double>(b.size()) * static_cast<double>(state.iterations()) /
                  std::chrono::duration<double>(end - start).count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * b.size()));
    state.counters["records_per_buffer"] = static_cast<double>(records);
    state.counters["memcpy_MBps"] = baseline / 1e6;
    state.counters["decode_MBps"] = rate / 1e6;
    state.counters["ratio_vs_memcpy"] = rate / baseline;
}

} // namespace

BENCHMARK(BM_Memcpy64KiB);
BENCHMARK(BM_DecodeAndBuffer64KiB)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
