// Logger costs beside baselines measured in the same run:
// - a stream line through _vem_log to a file, with and without the logger mutex, beside a
//   bare fprintf + fflush of the same line with the same timestamp formatting;
// - a log site whose message is filtered out, beside an empty loop;
// - log_hex with debug output off, beside a call of an empty function.
// Ratios are printed after the runs ("figure / baseline" in time per operation).
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>

#include "support/vem_logger.h"

namespace {

std::string temp_log_path() {
    char path[] = "/tmp/vem-log-bench-XXXXXX";
    int fd = mkstemp(path);
    close(fd);
    return path;
}

// The built-in sink writing to a file, with its mutex (the default set-up).
void BM_FileLineLocked(benchmark::State &state) {
    std::string path = temp_log_path();
    is_registered = false;
    vem_init_file_logger(path.c_str(), 6);
    int i = 0;
    for (auto _ : state)
        _vem_log(6, "exporter %s sent packet %d", "nf0", i++);
    state.SetItemsProcessed(state.iterations());
    vem_close_logger();
    unlink(path.c_str());
}

// The same without a mutex: the file state is adopted with no mutex, as a host would
// hand over a state whose thread safety is turned off.
void BM_FileLineUnlocked(benchmark::State &state) {
    std::string path = temp_log_path();
    is_registered = false;
    vem_init_file_logger(path.c_str(), 6);
    vem_logger_ctx_t *ctx = vem_get_logger_ctx();
    vem_logger_ctx_t owner = *ctx;
    ctx->mutex = nullptr;
    _vem_register_logger(ctx);
    vem_destroy_logger_ctx(ctx);
    int i = 0;
    for (auto _ : state)
        _vem_log(6, "exporter %s sent packet %d", "nf0", i++);
    state.SetItemsProcessed(state.iterations());
    _vem_register_logger(&owner);
    is_registered = false;
    vem_close_logger();
    unlink(path.c_str());
}

// Baseline: the same line written by hand with one fprintf and a flush.
void BM_FileLineBareFprintf(benchmark::State &state) {
    std::string path = temp_log_path();
    FILE *file = fopen(path.c_str(), "w");
    int i = 0;
    for (auto _ : state) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        struct tm local;
        localtime_r(&now.tv_sec, &local);
        char text[26];
        strftime(text, sizeof text, "[%Y-%m-%d %H:%M:%S", &local);
        fprintf(file, "%s.%03d] [info] exporter %s sent packet %d\n", text,
                static_cast<int>(now.tv_nsec / 1000000), "nf0", i++);
        fflush(file);
    }
    state.SetItemsProcessed(state.iterations());
    fclose(file);
    unlink(path.c_str());
}

// A debug site while the level is 0. The clobber keeps the compiler from hoisting the
// level load out of the loop, as it could not in real code between other work.
void BM_FilteredLogSite(benchmark::State &state) {
    vem_set_log_func(nullptr, 0);
    int i = 0;
    for (auto _ : state) {
        VEM_LOG(VEM_LOG_DEBUG, "packet %d of %s", i++, "nf0");
        benchmark::ClobberMemory();
    }
}

void BM_EmptyLoop(benchmark::State &state) {
    for (auto _ : state)
        benchmark::ClobberMemory();
}

unsigned char hex_bytes[64];

void BM_LogHexDebugOff(benchmark::State &state) {
    vem_set_log_func(nullptr, 6);
    for (auto _ : state) {
        log_hex(hex_bytes, sizeof hex_bytes);
        benchmark::ClobberMemory();
    }
}

__attribute__((noinline)) void empty_call(const void *data, uint64_t length) {
    benchmark::DoNotOptimize(data);
    benchmark::DoNotOptimize(length);
}

void BM_EmptyFunctionCall(benchmark::State &state) {
    for (auto _ : state) {
        empty_call(hex_bytes, sizeof hex_bytes);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_FileLineBareFprintf);
BENCHMARK(BM_FileLineLocked);
BENCHMARK(BM_FileLineUnlocked);
BENCHMARK(BM_EmptyLoop);
BENCHMARK(BM_FilteredLogSite);
BENCHMARK(BM_EmptyFunctionCall);
BENCHMARK(BM_LogHexDebugOff);

// Keeps the time per iteration of every run to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        // With repetitions the median stands for the benchmark, otherwise its one run.
        for (const Run &run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0 &&
                !medians_.count(run.run_name.str()))
                ns_[run.run_name.str()] = run.GetAdjustedRealTime();
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                ns_[run.run_name.str()] = run.GetAdjustedRealTime();
                medians_.insert(run.run_name.str());
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void print_ratio(const char *what, const char *figure, const char *baseline, bool throughput) {
        if (!ns_.count(figure) || !ns_.count(baseline))
            return;
        double f = ns_[figure], b = ns_[baseline];
        if (throughput)
            printf("%-44s %.3fx of the baseline's lines/s (%.0f vs %.0f ns/line)\n", what, b / f, f,
                   b);
        else
            printf("%-44s %.2f ns/call (baseline %.2f ns, difference %.2f ns)\n", what, f, b,
                   f - b);
    }

  private:
    std::map<std::string, double> ns_;
    std::set<std::string> medians_;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\n");
    reporter.print_ratio("file line, mutex:", "BM_FileLineLocked", "BM_FileLineBareFprintf", true);
    reporter.print_ratio("file line, no mutex:", "BM_FileLineUnlocked", "BM_FileLineBareFprintf",
                         true);
    reporter.print_ratio("filtered VEM_LOG site:", "BM_FilteredLogSite", "BM_EmptyLoop", false);
    reporter.print_ratio("log_hex, debug off:", "BM_LogHexDebugOff", "BM_EmptyFunctionCall", false);
    benchmark::Shutdown();
    return 0;
}
