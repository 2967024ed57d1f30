// The forward output inside the engine, end to end: buffers go in through the doorbell of
// the "raw_msgpack" input (flb_* interface), records come out at the FluentServer
// receiver, across a receiver that is late or restarts.
#include <sys/un.h>

#include "engine/include/pv_engine.h"
#include "engine/include/raw_msgpack_wire.h"
#include "tests/forward/forward_fixture.h"

namespace fwdtest {
namespace {

// The caller's end of the doorbell: a bound Unix datagram socket.
class Doorbell {
public:
    Doorbell(const std::string &own_path, const std::string &server_path) : own_(own_path), server_(server_path) {
        fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s", own_.c_str());
        if (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            ADD_FAILURE() << "cannot bind " << own_;
    }
    ~Doorbell() {
        close(fd_);
        unlink(own_.c_str());
    }
    // Sends one request and waits (watchdog only) for the answer's status.
    int ring(const std::string &buffer) {
        doorbell_msg_t msg{};
        msg.size = static_cast<int32_t>(buffer.size());
        msg.data = const_cast<char *>(buffer.data());
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        snprintf(a.sun_path, sizeof a.sun_path, "%s", server_.c_str());
        if (sendto(fd_, &msg, sizeof msg, 0, reinterpret_cast<sockaddr *>(&a), sizeof a) != sizeof msg)
            return -100;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(std::chrono::milliseconds(kWatchdog).count())) != 1)
            return -101;
        raw_msgpack_answer_t answer{};
        if (recv(fd_, &answer, sizeof answer, 0) != sizeof answer)
            return -102;
        return answer.status;
    }

private:
    std::string own_, server_;
    int fd_ = -1;
};

class ForwardEngine : public ::testing::Test {
protected:
    void SetUp() override {
        server_path_ = dir_.file("in.sock");
        input_data_.server_path = server_path_.c_str();
    }
    void TearDown() override {
        if (ctx_) {
            flb_stop(ctx_);
            flb_destroy(ctx_);
        }
    }
    // An engine with raw_msgpack in and forward out to `port`, acks on.
    void start_engine(int port) {
        ctx_ = flb_create();
        ASSERT_NE(ctx_, nullptr);
        ASSERT_EQ(flb_service_set(ctx_, "Flush", "0.1", "Grace", "5", nullptr), 0);
        int in = flb_input(ctx_, "raw_msgpack", &input_data_);
        ASSERT_GE(in, 0);
        ASSERT_EQ(flb_input_set(ctx_, in, "tag", "e2e.records", nullptr), 0);
        int out = flb_output(ctx_, "forward", nullptr);
        ASSERT_GE(out, 0);
        std::string p = std::to_string(port);
        ASSERT_EQ(flb_output_set(ctx_, out, "Host", "127.0.0.1", "Port", p.c_str(), "match", "e2e.records",
                                 "Require_ack_response", "on", "Retry_Limit", "no_limits", "Connect_Timeout", "2",
                                 nullptr),
                  0);
        ASSERT_EQ(flb_start(ctx_), 0);
        doorbell_ = std::make_unique<Doorbell>(dir_.file("client.sock"), server_path_);
    }
    // Buffer of records seq first..first+n-1 as [time, map] events.
    static std::string buffer(int first, int n) { return numbered_chunk("unused", first, n).bytes; }

    // Every seq of 0..total-1 arrived at least once.
    void expect_all_arrived(int total) {
        std::vector<json> ev;
        ASSERT_TRUE(wait_until([&] { return (ev = read_events(dir_.file("events.jsonl"))).size() >= size_t(total); }))
            << "receiver got " << ev.size() << " of " << total;
        std::vector<int> seen(total, 0);
        for (auto &e : ev) {
            EXPECT_EQ(e["tag"], "e2e.records");
            ++seen.at(e["record"]["seq"].get<size_t>());
        }
        for (int i = 0; i < total; ++i)
            EXPECT_GE(seen[i], 1) << "record " << i << " lost";
    }

    TempDir dir_;
    std::string server_path_;
    raw_input_data_t input_data_{};
    flb_ctx_t *ctx_ = nullptr;
    std::unique_ptr<Doorbell> doorbell_;
    Receiver receiver_;
};

TEST_F(ForwardEngine, ReceiverDownAtStartAndUpThreeSecondsLaterLosesNothing) {
    int port = free_port();
    ASSERT_GT(port, 0);
    start_engine(port);
    for (int b = 0; b < 10; ++b)
        ASSERT_EQ(doorbell_->ring(buffer(b * 50, 50)), RAW_MSGPACK_ACCEPTED);
    std::this_thread::sleep_for(std::chrono::seconds(3));  // the receiver is late on purpose
    ASSERT_EQ(receiver_.start(receiver_args(dir_.file("events.jsonl"), port)), port);
    expect_all_arrived(500);
}

TEST_F(ForwardEngine, ReceiverKilledAndRestartedMidStreamWithAcksLosesNothing) {
    int port = receiver_.start(receiver_args(dir_.file("events.jsonl")));
    ASSERT_GT(port, 0);
    start_engine(port);
    constexpr int kBuffers = 30, kPer = 40;
    for (int b = 0; b < kBuffers; ++b) {
        if (b == 10 || b == 20) {
            receiver_.stop();
            ASSERT_EQ(doorbell_->ring(buffer(b * kPer, kPer)), RAW_MSGPACK_ACCEPTED);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));  // flushes meet a dead receiver
            ASSERT_EQ(receiver_.start(receiver_args(dir_.file("events.jsonl"), port)), port);
            continue;
        }
        ASSERT_EQ(doorbell_->ring(buffer(b * kPer, kPer)), RAW_MSGPACK_ACCEPTED);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    expect_all_arrived(kBuffers * kPer);
}

// At stop, what is buffered goes out within Grace.
TEST_F(ForwardEngine, StopFlushesWhatIsBuffered) {
    int port = receiver_.start(receiver_args(dir_.file("events.jsonl")));
    ASSERT_GT(port, 0);
    start_engine(port);
    ASSERT_EQ(doorbell_->ring(buffer(0, 100)), RAW_MSGPACK_ACCEPTED);
    EXPECT_EQ(flb_stop(ctx_), 0);
    expect_all_arrived(100);
}

// The engine asks the plugin about values its types cannot judge.
TEST(ForwardEngineProperties, BadValuesFailTheSet) {
    flb_ctx_t *ctx = flb_create();
    ASSERT_NE(ctx, nullptr);
    int out = flb_output(ctx, "forward", nullptr);
    ASSERT_GE(out, 0);
    const struct {
        const char *key, *value;
        bool ok;
    } cases[] = {
        {"Port", "", true},          {"Port", "24224", true},        {"Port", "0", false},
        {"Port", "65536", false},    {"Port", "http", false},        {"Host", "", true},
        {"Compress", "gzip", true},  {"Compress", "brotli", false},  {"tls.verify", "off", true},
        {"tls.verify", "maybe", false}, {"Ack_Timeout", "0", false}, {"Require_ack_response", "yes", true},
        {"Shared_Key", "k", true},   {"No_Such_Key", "1", false},
    };
    for (auto &c : cases)
        EXPECT_EQ(flb_output_set(ctx, out, c.key, c.value, nullptr) == 0, c.ok) << c.key << "=" << c.value;
    flb_destroy(ctx);
}

}  // namespace
}  // namespace fwdtest
