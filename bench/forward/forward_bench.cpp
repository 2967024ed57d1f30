// Throughput of the forward output to a local sink that reads and discards: 100-byte
// records in 64 KiB chunks, acks off and on, from the plugin's flush and from the
// engine's doorbell. The baseline is the same bytes (the message for the chunk) written to
// the same sink with plain write calls in the same run; each figure carries its ratio to
// it (vs_write). MB/s counts the chunk's event bytes throughout.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "bench/forward/forward_sink.h"
#include "engine/include/pv_engine.h"
#include "engine/include/raw_msgpack_wire.h"
#include "engine/output_api.h"
#include "engine/plugins/out_forward/forward_encode.h"

extern const engine::OutputPlugin out_forward_plugin;

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kRecordBytes = 100;
constexpr size_t kChunkBytes = 64 * 1024;

// Events [[EventTime, {}], {"msg": "..."}] of exactly 100 bytes, as many as fit 64 KiB.
struct BenchChunk {
    std::string bytes;
    size_t records = 0;
    BenchChunk() {
        std::string event = std::string("\x92\x92\xd7\x00", 4) + std::string("\x65\x00\x00\x00\x00\x00\x00\x07", 8) +
                            "\x80" + "\x81\xa3msg";
        size_t text = kRecordBytes - event.size() - 2;
        event += "\xd9";
        event.push_back(static_cast<char>(text));
        event += std::string(text, 'x');
        while (bytes.size() + event.size() <= kChunkBytes) {
            bytes += event;
            ++records;
        }
    }
};

const BenchChunk &chunk() {
    static BenchChunk c;
    return c;
}

double g_write_bytes_per_s = 0;  // the baseline of this run

void set_rates(benchmark::State &state, double seconds, uint64_t bytes, uint64_t records) {
    double bps = seconds > 0 ? bytes / seconds : 0;
    state.counters["MB/s"] = bps / 1e6;
    state.counters["records/s"] = seconds > 0 ? records / seconds : 0;
    if (g_write_bytes_per_s > 0)
        state.counters["vs_write"] = bps / g_write_bytes_per_s;
}

int connect_to(int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Baseline: the message the plugin sends for the chunk (acks off), encoded once, written
// again and again with plain write calls on one connection to the same kind of sink.
void BM_PlainWrite(benchmark::State &state) {
    fwdbench::ForwardSink sink(true);
    int fd = connect_to(sink.port());
    const std::string &b = chunk().bytes;
    fwd::MessageEncoder encoder;
    fwd::ForwardConfig config;
    std::string error;
    engine::Chunk c{"bench", 5, b.data(), b.size(), chunk().records};
    if (fd < 0 || !encoder.encode(c, config, "", &error)) {
        state.SkipWithError("set-up failed");
        return;
    }
    fwd::Slice parts[3];
    size_t count = encoder.slices(parts);
    std::string message;
    for (size_t i = 0; i < count; ++i)
        message.append(static_cast<const char *>(parts[i].data), parts[i].size);
    uint64_t n = 0;
    auto t0 = Clock::now();
    for (auto _ : state) {
        size_t off = 0;
        while (off < message.size()) {
            ssize_t w = write(fd, message.data() + off, message.size() - off);
            if (w <= 0) {
                state.SkipWithError("write failed");
                break;
            }
            off += static_cast<size_t>(w);
        }
        ++n;
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    close(fd);
    g_write_bytes_per_s = n * b.size() / s;
    set_rates(state, s, n * b.size(), n * chunk().records);
}

// The plugin's flush, driven through its table as the engine does.
void BM_PluginFlush(benchmark::State &state) {
    bool acks = state.range(0) != 0;
    fwdbench::ForwardSink sink(true);
    engine::Instance ins;
    ins.plugin = &out_forward_plugin;
    ins.name = "forward.bench";
    ins.abort_fd = eventfd(0, EFD_CLOEXEC);
    ins.set("Port", std::to_string(sink.port()).c_str());
    ins.set("Require_ack_response", acks ? "on" : "off");
    engine::log_threshold() = static_cast<int>(engine::LogLevel::Warn);
    if (out_forward_plugin.init(&ins) != 0) {
        state.SkipWithError("init failed");
        return;
    }
    const std::string &b = chunk().bytes;
    engine::Chunk c{"bench", 5, b.data(), b.size(), chunk().records};
    uint64_t n = 0;
    auto t0 = Clock::now();
    for (auto _ : state) {
        if (out_forward_plugin.flush(&ins, c) != engine::FlushResult::Ok) {
            state.SkipWithError("flush failed");
            break;
        }
        ++n;
    }
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    out_forward_plugin.exit(&ins);
    close(ins.abort_fd);
    set_rates(state, s, n * b.size(), n * chunk().records);
}

// From the doorbell of the "raw_msgpack" input through the engine to the sink: each
// iteration rings 512 buffers and waits until the sink has counted their records.
void BM_Doorbell(benchmark::State &state) {
    bool acks = state.range(0) != 0;
    fwdbench::ForwardSink sink(true);
    char dir[] = "/tmp/forward_bench_XXXXXX";
    if (!mkdtemp(dir)) {
        state.SkipWithError("mkdtemp");
        return;
    }
    std::string server = std::string(dir) + "/in.sock", client = std::string(dir) + "/client.sock";
    raw_input_data_t input{0, server.c_str()};
    flb_ctx_t *ctx = flb_create();
    flb_service_set(ctx, "Flush", "0.1", "Grace", "5", "Log_Level", "warn", nullptr);
    flb_input(ctx, "raw_msgpack", &input);
    int out = flb_output(ctx, "forward", nullptr);
    std::string port = std::to_string(sink.port());
    flb_output_set(ctx, out, "Port", port.c_str(), "Send_options", "on", "Require_ack_response", acks ? "on" : "off",
                   nullptr);
    if (flb_start(ctx) != 0) {
        state.SkipWithError("flb_start failed");
        flb_destroy(ctx);
        return;
    }
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un me{}, peer{};
    me.sun_family = peer.sun_family = AF_UNIX;
    snprintf(me.sun_path, sizeof me.sun_path, "%s", client.c_str());
    snprintf(peer.sun_path, sizeof peer.sun_path, "%s", server.c_str());
    bind(fd, reinterpret_cast<sockaddr *>(&me), sizeof me);

    const std::string &b = chunk().bytes;
    constexpr int kBatch = 512;  // 32 MiB: up to the input's Mem_Buf_Limit
    uint64_t sent_records = 0, buffers = 0;
    double total_s = 0;
    for (auto _ : state) {
        auto t0 = Clock::now();
        for (int i = 0; i < kBatch; ++i) {
            doorbell_msg_t msg{};
            msg.size = static_cast<int32_t>(b.size());
            msg.data = const_cast<char *>(b.data());
            raw_msgpack_answer_t answer{};
            pollfd p{fd, POLLIN, 0};
            if (sendto(fd, &msg, sizeof msg, 0, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != sizeof msg ||
                poll(&p, 1, 60000) != 1 || recv(fd, &answer, sizeof answer, 0) != sizeof answer || answer.status != 0) {
                state.SkipWithError("doorbell failed");
                break;
            }
            sent_records += answer.records;
            ++buffers;
        }
        auto give_up = Clock::now() + std::chrono::seconds(60);
        while (sink.records() < sent_records && Clock::now() < give_up)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        double s = std::chrono::duration<double>(Clock::now() - t0).count();
        state.SetIterationTime(s);
        total_s += s;
    }
    flb_stop(ctx);
    flb_destroy(ctx);
    close(fd);
    unlink(client.c_str());
    rmdir(dir);
    set_rates(state, total_s, buffers * b.size(), sent_records);
}

}  // namespace

BENCHMARK(BM_PlainWrite);
BENCHMARK(BM_PluginFlush)->Arg(0)->Arg(1)->ArgName("acks");
BENCHMARK(BM_Doorbell)->Arg(0)->Arg(1)->ArgName("acks")->UseManualTime();

BENCHMARK_MAIN();
