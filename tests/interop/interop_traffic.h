// The traffic both interop tests send: whole events from one observation domain and
// split events (some extended, in chunks across pages) from another, paced so that a
// collector on loopback keeps up.
#pragma once

#include <chrono>
#include <thread>

#include "exporter/exporter_fixture.h"
#include "flow_records.h"

namespace interop {

constexpr uint32_t kWholeDomain = 1;
constexpr uint32_t kSplitDomain = 2;
constexpr uint32_t kWholeEvents = 30, kWholeFlows = 20; // flows 0 .. 599
constexpr uint32_t kSplitEvents = 30, kSplitFlows = 25; // flows 1000 .. 1749
constexpr uint32_t kSplitFirstFlow = 1000;
constexpr const char *kSplitMax = "500";      // 11 records of 37 per packet
constexpr uint32_t kSplitPacketsPerEvent = 3; // 11 + 11 + 3

inline uint32_t total_flows() {
    return kWholeEvents * kWholeFlows + kSplitEvents * kSplitFlows;
}
inline uint32_t total_packets() {
    return kWholeEvents + kSplitEvents * kSplitPacketsPerEvent;
}
inline bool is_sent_flow(uint32_t i) {
    return i < kWholeEvents * kWholeFlows ||
           (i >= kSplitFirstFlow && i < kSplitFirstFlow + kSplitEvents * kSplitFlows);
}

inline void pace() {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Sends all traffic to 127.0.0.1:port; false (with a gtest failure) when a page failed.
inline bool send_traffic(const nftest::Plugin &plugin, uint16_t port) {
    const vem_exporter_api_t *api = plugin.api();
    std::string p = std::to_string(port);
    nftest::Options whole_options{{"netflow-collector-addr", "127.0.0.1"},
                                  {"netflow-collector-port", p}};
    nftest::Options split_options{{"netflow-collector-addr", "127.0.0.1"},
                                  {"netflow-collector-port", p},
                                  {"netflow-max-packet-size", kSplitMax}};
    nftest::ExporterHandle whole{api, api->create(whole_options.dict())};
    nftest::ExporterHandle split{api, api->create(split_options.dict())};
    EXPECT_NE(whole.exporter, nullptr);
    EXPECT_NE(split.exporter, nullptr);
    if (!whole.exporter || !split.exporter)
        return false;
    nftest::EventFeeder whole_feed(api, whole.exporter), split_feed(api, split.exporter);
    bool ok = true;
    for (uint32_t e = 0; e < kWholeEvents; e += 3) { // three events per page
        std::vector<std::pair<uint64_t, nftest::Bytes>> events;
        for (uint32_t k = e; k < e + 3 && k < kWholeEvents; ++k) {
            nftest::Packet pk = packet_of_flows(k * kWholeFlows, kWholeFlows, kWholeDomain, k);
            events.emplace_back(pk.value1(), pk.encode());
        }
        ok = whole_feed.whole(events) && ok;
        pace();
    }
    for (uint32_t e = 0; e < kSplitEvents; ++e) {
        // The producer's sequence number is replaced by the exporter's own.
        nftest::Packet pk =
            packet_of_flows(kSplitFirstFlow + e * kSplitFlows, kSplitFlows, kSplitDomain, 4242);
        ok = (e % 5 == 4 ? split_feed.extended(pk.value1(), pk.encode(), 300, e)
                         : split_feed.whole(pk.value1(), pk.encode())) &&
             ok;
        pace();
    }
    EXPECT_TRUE(ok);
    return ok;
}

} // namespace interop
