// Catalogue lookup by name (a walk with strcmp over at most 102 rows) beside a
// std::unordered_map of the same names, timed alternately in the same iterations.
// `ratio` is the map's time over the walk's (above 1: the walk is faster).
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "exporter/vem_netflow_fields.h"

namespace {

using Clock = std::chrono::steady_clock;

void BM_LookupByName(benchmark::State &state) {
    std::vector<std::string> names;
    std::unordered_map<std::string_view, const vem_net_flow_field_info_t *> map;
    for (const auto &row : net_flow_fields_info)
        if (row.name) {
            names.emplace_back(row.name);
            map.emplace(row.name, &row);
        }
    names.emplace_back("NO_SUCH_FIELD"); // one miss walks all rows
    double walk_s = 0, map_s = 0;
    uint64_t lookups = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (const auto &n : names)
            benchmark::DoNotOptimize(vem_net_flow_field_info_by_name(n.c_str()));
        auto t1 = Clock::now();
        for (const auto &n : names) {
            auto it = map.find(n);
            benchmark::DoNotOptimize(it == map.end() ? nullptr : it->second);
        }
        auto t2 = Clock::now();
        walk_s += std::chrono::duration<double>(t1 - t0).count();
        map_s += std::chrono::duration<double>(t2 - t1).count();
        lookups += names.size();
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    state.counters["ns_per_lookup"] = lookups ? walk_s * 1e9 / lookups : 0;
    state.counters["map_ns_per_lookup"] = lookups ? map_s * 1e9 / lookups : 0;
    state.counters["ratio"] = walk_s > 0 ? map_s / walk_s : 0;
}
BENCHMARK(BM_LookupByName)->UseManualTime();

// By type: a range test and an index.
void BM_LookupByType(benchmark::State &state) {
    int t = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vem_net_flow_field_info_by_type(t));
        t = t == 104 ? 0 : t + 1;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LookupByType);

} // namespace

BENCHMARK_MAIN();
