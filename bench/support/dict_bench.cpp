// Dictionary lookups (hits and misses) and inserts at 3, 100 and 100000 keys, beside
// std::unordered_map<std::string, std::string> doing the same work in the same run.
// After the runs, the ratio dictionary time / map time is printed for every pair
// (below 1: the dictionary is faster).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/vem_dict.h"

namespace {

std::vector<std::string> make_keys(const char *prefix, int n) {
    std::vector<std::string> keys;
    keys.reserve(static_cast<size_t>(n));
    char buf[32];
    for (int i = 0; i < n; ++i) {
        snprintf(buf, sizeof buf, "%s-%06d", prefix, i);
        keys.emplace_back(buf);
    }
    return keys;
}

// The order in which keys are looked up: shuffled, so large tables are not walked in
// memory order.
std::vector<size_t> lookup_order(size_t n) {
    std::vector<size_t> order(std::max<size_t>(n, 4096));
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i % n;
    std::shuffle(order.begin(), order.end(), std::mt19937(42));
    return order;
}

struct Data {
    std::vector<std::string> keys, misses;
    std::vector<size_t> order;
    explicit Data(int n) : keys(make_keys("key", n)), misses(make_keys("miss", n)), order(lookup_order(n)) {}
};

template <bool Hit>
void BM_DictLookup(benchmark::State &state) {
    Data data(static_cast<int>(state.range(0)));
    vem_dict_t d = vem_dict_create();
    for (auto &k : data.keys)
        vem_dict_add(d, k.c_str(), k.c_str());
    const auto &probe = Hit ? data.keys : data.misses;
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(vem_dict_get(d, probe[data.order[i]].c_str()));
        if (++i == data.order.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
    vem_dict_delete(d);
}

template <bool Hit>
void BM_MapLookup(benchmark::State &state) {
    Data data(static_cast<int>(state.range(0)));
    std::unordered_map<std::string, std::string> m;
    for (auto &k : data.keys)
        m.emplace(k, k);
    const auto &probe = Hit ? data.keys : data.misses;
    size_t i = 0;
    for (auto _ : state) {
        auto it = m.find(probe[data.order[i]]);
        benchmark::DoNotOptimize(it == m.end() ? nullptr : it->second.c_str());
        if (++i == data.order.size())
            i = 0;
    }
    state.SetItemsProcessed(state.iterations());
}

// One iteration fills a fresh container with all keys; time per key is reported.
void BM_DictInsert(benchmark::State &state) {
    Data data(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        vem_dict_t d = vem_dict_create();
        for (auto &k : data.keys)
            vem_dict_add(d, k.c_str(), k.c_str());
        benchmark::DoNotOptimize(d);
        vem_dict_delete(d);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_MapInsert(benchmark::State &state) {
    Data data(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        std::unordered_map<std::string, std::string> m;
        for (auto &k : data.keys)
            m.emplace(k, k);
        benchmark::DoNotOptimize(m);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_DictLookup<true>)->Name("Hit/dict")->Arg(3)->Arg(100)->Arg(100000);
BENCHMARK(BM_MapLookup<true>)->Name("Hit/unordered_map")->Arg(3)->Arg(100)->Arg(100000);
BENCHMARK(BM_DictLookup<false>)->Name("Miss/dict")->Arg(3)->Arg(100)->Arg(100000);
BENCHMARK(BM_MapLookup<false>)->Name("Miss/unordered_map")->Arg(3)->Arg(100)->Arg(100000);
BENCHMARK(BM_DictInsert)->Name("Insert/dict")->Arg(3)->Arg(100)->Arg(100000);
BENCHMARK(BM_MapInsert)->Name("Insert/unordered_map")->Arg(3)->Arg(100)->Arg(100000);

// Remembers the time per item of every run so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> per_item;  // "Hit/dict/100" -> ns per item
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration)
                continue;
            auto items = r.counters.find("items_per_second");
            if (items != r.counters.end() && items->second.value > 0)
                per_item[r.benchmark_name()] = 1e9 / items->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\n%-8s %8s %12s %14s %8s\n", "op", "keys", "dict ns", "std map ns", "ratio");
    for (const char *op : {"Hit", "Miss", "Insert"})
        for (const char *n : {"3", "100", "100000"}) {
            auto d = reporter.per_item.find(std::string(op) + "/dict/" + n);
            auto m = reporter.per_item.find(std::string(op) + "/unordered_map/" + n);
            if (d != reporter.per_item.end() && m != reporter.per_item.end())
                printf("%-8s %8s %12.2f %14.2f %8.2f\n", op, n, d->second, m->second, d->second / m->second);
        }
    benchmark::Shutdown();
    return 0;
}
