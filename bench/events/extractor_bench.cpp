// Page walk: ns per delivered whole event on 1 MiB pages, beside a bare loop over the same
// records that reads the fields the callback needs and calls the same callback.
// Reassembly: single-buffer MB/s for 4 KiB chunks, beside memcpy of the same bytes.
// Each benchmark times both sides in every iteration and reports their ratio.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>

#include "events/vem_opaque_events.h"
#include "fixture/test_host.h"
#include "support/vem_log.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kPageSize = 1 << 20;
const vem_app_id_t kApp = testhost::netflow_app_id();

struct Sum {
    uint64_t events = 0;
    uint64_t bytes = 0;
};

bool count_event(void *user, const char *, const char *, vem_dict_t, const vem_app_id_t *app, uint64_t v1,
                 uint64_t v2, const void *data, uint32_t size) {
    auto *s = static_cast<Sum *>(user);
    s->events += 1;
    s->bytes += size + static_cast<const uint8_t *>(data)[0] + app->bytes[0] + ((v1 ^ v2) & 1);
    return true;
}

// A 1 MiB page of events blocks (255 records each, fewer in the last) with payloads of
// `payload` bytes; the zero remainder ends the walk.
testhost::Page whole_events_page(size_t payload, size_t *events) {
    const size_t record = VEM_OPAQUE_EVENT_HEADER_SIZE + payload;
    testhost::Page p;
    testhost::OpaqueRecord r;
    r.app = kApp;
    r.value1 = 1;
    r.data.assign(payload, 0x5a);
    const testhost::Bytes encoded = r.encode(record);
    *events = 0;
    for (;;) {
        size_t left = kPageSize - p.bytes().size();
        if (left < 16 + record + 16)
            break;
        size_t count = std::min<size_t>(255, (left - 16 - 16) / record);
        p.events(1, 2, static_cast<uint8_t>(count));
        for (size_t i = 0; i < count; ++i)
            p.record(encoded);
        *events += count;
    }
    p.finish(kPageSize - p.bytes().size());
    return p;
}

// What a caller without the extractor would do: blocks by header, records by size, the
// callback's fields loaded with memcpy. Not inlined, and the callback reached through a
// pointer the compiler cannot see through, as the extractor reaches it.
__attribute__((noinline)) void bare_loop(const uint8_t *page, size_t record, vem_opaque_event_cb cb, void *user) {
    uint64_t total;
    memcpy(&total, page + 8, 8);
    const uint8_t *p = page + VEM_DATA_PAGE_HEADER_SIZE;
    const uint8_t *end = page + total;
    while (end - p >= 16 && p[3] == 'E') {
        const uint8_t count = p[15];
        const uint8_t *rec = p + 16;
        for (unsigned i = 0; i < count; ++i, rec += record) {
            uint64_t v1, v2;
            uint32_t size;
            memcpy(&v1, rec + 33, 8);
            memcpy(&v2, rec + 41, 8);
            memcpy(&size, rec + 49, 4);
            cb(user, reinterpret_cast<const char *>(page + 64), reinterpret_cast<const char *>(page + 128), nullptr,
               reinterpret_cast<const vem_app_id_t *>(rec + 17), v1, v2, rec + 53, size);
        }
        p = rec;
    }
}

// Read through a volatile so that the bare loop calls the callback by pointer, as the
// extractor does.
vem_opaque_event_cb volatile opaque_count_event = &count_event;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

void BM_PageWalkWholeEvents(benchmark::State &state) {
    vem_set_log_level(0);
    const size_t payload = static_cast<size_t>(state.range(0));
    size_t events = 0;
    testhost::Page page = whole_events_page(payload, &events);
    testhost::Types types;
    types.define_opaque(1, 2, VEM_OPAQUE_EVENT_HEADER_SIZE + payload);
    vem_type_def_lookup_t lookup = types.lookup();
    Sum walked, bare;
    vem_opaque_events_callbacks_t cbs{&count_event, nullptr, &walked};
    vem_opaque_events_extractor_t *x = vem_opaque_events_extractor_create(&kApp, &cbs);
    double walk_s = 0, bare_s = 0;
    unsigned round = 0;
    for (auto _ : state) {
        // The two sides take turns at going first, so that neither inherits a warmer cache.
        vem_opaque_event_cb cb = opaque_count_event;
        const bool bare_first = (++round & 1) != 0;
        Clock::time_point b0, b1;
        if (bare_first) {
            b0 = Clock::now();
            bare_loop(page.bytes().data(), VEM_OPAQUE_EVENT_HEADER_SIZE + payload, cb, &bare);
            b1 = Clock::now();
        }
        auto t0 = Clock::now();
        bool ok = vem_opaque_events_extractor_process_data_page(x, page.page(), &lookup);
        auto t1 = Clock::now();
        if (!bare_first) {
            b0 = Clock::now();
            bare_loop(page.bytes().data(), VEM_OPAQUE_EVENT_HEADER_SIZE + payload, cb, &bare);
            b1 = Clock::now();
        }
        benchmark::DoNotOptimize(ok);
        types.calls.clear();
        walk_s += seconds(t0, t1);
        bare_s += seconds(b0, b1);
        state.SetIterationTime(seconds(t0, t1));
    }
    vem_opaque_events_extractor_delete(x);
    if (walked.events != bare.events || walked.bytes != bare.bytes)
        state.SkipWithError("the walk and the bare loop saw different events");
    const double n = static_cast<double>(state.iterations()) * static_cast<double>(events);
    state.counters["events_per_page"] = static_cast<double>(events);
    state.counters["walk_ns_per_event"] = walk_s * 1e9 / n;
    state.counters["bare_ns_per_event"] = bare_s * 1e9 / n;
    state.counters["ratio_walk_to_bare"] = walk_s / bare_s;
}
BENCHMARK(BM_PageWalkWholeEvents)->Arg(64)->Arg(1024)->UseManualTime()->Unit(benchmark::kMicrosecond);

// One 1 MiB page: a start record announcing the payload, then 4 KiB chunks that fill it.
void BM_ReassemblySingleBuffer(benchmark::State &state) {
    vem_set_log_level(0);
    constexpr size_t kChunk = 4096;
    constexpr size_t kRecord = VEM_OPAQUE_EVENT_HEADER_SIZE + kChunk;
    const size_t chunks = (kPageSize - VEM_DATA_PAGE_HEADER_SIZE - 16) / kRecord - 1;
    const uint32_t total = static_cast<uint32_t>(chunks * kChunk);
    testhost::Page p;
    p.events(1, 2, static_cast<uint8_t>(chunks + 1));
    testhost::OpaqueRecord start;
    start.type = VEM_OPAQUE_EVENT_EXTENDED;
    start.id = 1;
    start.offset = total;
    start.app = kApp;
    p.record(start, kRecord);
    for (size_t i = 0; i < chunks; ++i) {
        testhost::OpaqueRecord c;
        c.type = VEM_OPAQUE_EVENT_CHUNK;
        c.id = 1;
        c.offset = static_cast<uint32_t>(i * kChunk);
        c.app = kApp;
        c.data.assign(kChunk, static_cast<uint8_t>(i));
        p.record(c, kRecord);
    }
    p.finish(kPageSize - p.bytes().size());
    testhost::Types types;
    types.define_opaque(1, 2, kRecord);
    vem_type_def_lookup_t lookup = types.lookup();
    Sum assembled;
    vem_opaque_events_callbacks_t cbs{&count_event, nullptr, &assembled};
    vem_opaque_events_extractor_t *x = vem_opaque_events_extractor_create(&kApp, &cbs);
    testhost::Bytes target(total);
    const uint8_t *first = p.bytes().data() + VEM_DATA_PAGE_HEADER_SIZE + 16 + kRecord + VEM_OPAQUE_EVENT_HEADER_SIZE;
    double walk_s = 0, copy_s = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        bool ok = vem_opaque_events_extractor_process_data_page(x, p.page(), &lookup);
        auto t1 = Clock::now();
        for (size_t i = 0; i < chunks; ++i)
            memcpy(target.data() + i * kChunk, first + i * kRecord, kChunk);
        benchmark::ClobberMemory();
        auto t2 = Clock::now();
        benchmark::DoNotOptimize(ok);
        types.calls.clear();
        walk_s += seconds(t0, t1);
        copy_s += seconds(t1, t2);
        state.SetIterationTime(seconds(t0, t1));
    }
    vem_opaque_events_extractor_delete(x);
    if (assembled.events != static_cast<uint64_t>(state.iterations()))
        state.SkipWithError("the event was not delivered on every page");
    const double bytes = static_cast<double>(state.iterations()) * total;
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["reassembly_MBps"] = bytes / walk_s / 1e6;
    state.counters["memcpy_MBps"] = bytes / copy_s / 1e6;
    state.counters["ratio_reassembly_to_memcpy"] = copy_s / walk_s;
}
BENCHMARK(BM_ReassemblySingleBuffer)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
