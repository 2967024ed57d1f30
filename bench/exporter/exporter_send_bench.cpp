// Packets per second of the exporter's split and whole paths, each beside a bare
// sendto(MSG_CONFIRM) loop of the very datagrams the exporter sends, from the same socket
// to the same collector, measured alternately in the same iterations. `ratio` is the
// exporter's rate over the bare loop's (1.0 = no overhead over the system call).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "exporter/exporter_fixture.h"
#include "exporter/exporter_internal.h"
#include "exporter/netflow_builder.h"

namespace {

using Clock = std::chrono::steady_clock;
using nftest::Bytes;

// The datagrams the splitting path builds for one event, to replay in the bare loop.
std::vector<Bytes> expected_packets(const nftest::Packet &event, uint32_t max) {
    std::vector<Bytes> out;
    if (!max) {
        out.push_back(event.encode());
        return out;
    }
    uint32_t fixed = 24 + event.template_length();
    size_t per = ((max & ~3u) - fixed) / event.record_length();
    for (size_t first = 0; first < event.records.size(); first += per) {
        nftest::Packet slice = event;
        slice.records.assign(event.records.begin() + first,
                             event.records.begin() + std::min(event.records.size(), first + per));
        out.push_back(slice.encode());
    }
    return out;
}

// A page holding `events` copies of the event as whole opaque events.
struct EventPage {
    EventPage(const Bytes &payload, uint64_t value1, int events) {
        size_t record_size = VEM_OPAQUE_EVENT_HEADER_SIZE + payload.size();
        page.events(0, 1, static_cast<uint8_t>(events));
        for (int i = 0; i < events; ++i) {
            testhost::OpaqueRecord r;
            r.app = testhost::netflow_app_id();
            r.value1 = value1;
            r.data = payload;
            page.record(r, record_size);
        }
        page.finish();
        types.define_opaque(0, 1, record_size);
        types.calls.reserve(1 << 20);
        lookup = types.lookup();
    }
    testhost::Page page;
    testhost::Types types;
    vem_type_def_lookup_t lookup{};
};

void run(benchmark::State &state, uint32_t records, uint32_t max, int events_per_page) {
    nftest::Collector collector; // never read: both loops meet the same full receive queue
    nftest::Options o{{"netflow-collector-addr", "127.0.0.1"},
                      {"netflow-collector-port", collector.port_text()}};
    if (max)
        o.set("netflow-max-packet-size", std::to_string(max));
    auto *e = static_cast<vem_nf_exporter_t *>(nf_exporter_api.create(o.dict()));
    if (!e) {
        state.SkipWithError("no exporter");
        return;
    }
    nftest::Packet event;
    event.add_patterned(records);
    Bytes payload = event.encode();
    EventPage page(payload, event.value1(), events_per_page);
    std::vector<Bytes> datagrams = expected_packets(event, max);
    const sockaddr *to = e->collector->ai_addr;
    socklen_t to_len = e->collector->ai_addrlen;

    double sentrel_s = 0, bare_s = 0;
    uint64_t packets = 0;
    bool bare_first = false; // alternate the order so neither loop always runs on a warm path
    for (auto _ : state) {
        page.types.calls.clear();
        bool ok = true;
        auto bare = [&] {
            auto t0 = Clock::now();
            for (int i = 0; i < events_per_page; ++i)
                for (const Bytes &d : datagrams)
                    ok &= sendto(e->socket_fd, d.data(), d.size(), MSG_CONFIRM, to, to_len) ==
                          static_cast<ssize_t>(d.size());
            bare_s += std::chrono::duration<double>(Clock::now() - t0).count();
        };
        if (bare_first)
            bare();
        auto t0 = Clock::now();
        ok &= nf_exporter_api.process_data_page(e, page.page.page(), &page.lookup);
        double took = std::chrono::duration<double>(Clock::now() - t0).count();
        sentrel_s += took;
        if (!bare_first)
            bare();
        bare_first = !bare_first;
        if (!ok) {
            state.SkipWithError("send failed");
            break;
        }
        packets += datagrams.size() * events_per_page;
        state.SetIterationTime(took);
    }
    state.counters["sentrel_pps"] = sentrel_s > 0 ? packets / sentrel_s : 0;
    state.counters["bare_sendto_pps"] = bare_s > 0 ? packets / bare_s : 0;
    state.counters["ratio"] = sentrel_s > 0 ? bare_s / sentrel_s : 0;
    state.counters["events/s"] =
        sentrel_s > 0 ? static_cast<double>(state.iterations()) * events_per_page / sentrel_s : 0;
    state.counters["packets_per_event"] = static_cast<double>(datagrams.size());
    _vem_nf_exporter_destroy(e);
}

// Split path: 25 or 1000 records of 37 bytes cut at 500 or 1400 bytes; one event a page.
void BM_SplitPath(benchmark::State &state) {
    run(state, static_cast<uint32_t>(state.range(0)), static_cast<uint32_t>(state.range(1)), 1);
}
BENCHMARK(BM_SplitPath)
    ->ArgNames({"records", "max"})
    ->Args({25, 500})
    ->Args({25, 1400})
    ->Args({1000, 500})
    ->Args({1000, 1400})
    ->UseManualTime();

// Whole path: events of 25 records (1012 bytes) sent as they are, eight to a page.
void BM_WholePath(benchmark::State &state) {
    run(state, 25, 0, 8);
}
BENCHMARK(BM_WholePath)->UseManualTime();

} // namespace

BENCHMARK_MAIN();
