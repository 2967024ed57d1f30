// The forward output against a real, independent receiver (FluentServer in Node.js).
#include "tests/forward/forward_fixture.h"

namespace fwdtest {
namespace {

using engine::FlushResult;
using Props = std::vector<std::pair<std::string, std::string>>;

class ForwardReceiver : public ::testing::Test {
protected:
    std::string events_path() const { return dir_.file("events.jsonl"); }
    int start_receiver(std::vector<std::string> extra = {}, int port = 0) {
        auto args = receiver_args(events_path(), port);
        args.insert(args.end(), extra.begin(), extra.end());
        int p = receiver_.start(args);
        EXPECT_GT(p, 0) << "receiver did not start";
        return p;
    }
    // Waits until the receiver recorded at least `n` events (a watchdog, not a timer).
    std::vector<json> events_when(size_t n) {
        std::vector<json> ev;
        EXPECT_TRUE(wait_until([&] { return (ev = read_events(events_path())).size() >= n; }))
            << "receiver got " << ev.size() << " of " << n << " events";
        return ev;
    }
    TempDir dir_;
    Receiver receiver_;
};

Props base(int port, Props more = {}) {
    Props p = {{"Host", "127.0.0.1"}, {"Port", std::to_string(port)}};
    p.insert(p.end(), more.begin(), more.end());
    return p;
}

// Records of several shapes under several tags, in every sending mode; the receiver
// must see each record unchanged, with its tag and time.
TEST_F(ForwardReceiver, RecordsOfEveryShapeArriveInEveryMode) {
    int port = start_receiver();
    struct Mode {
        const char *name;
        Props props;
        bool integer_time;
    };
    const std::vector<Mode> modes = {
        {"plain", {}, false},
        {"send_options", {{"Send_options", "on"}}, false},
        {"time_as_integer", {{"Time_as_Integer", "true"}}, true},
        {"acks", {{"Require_ack_response", "yes"}}, false},
        {"gzip", {{"Compress", "gzip"}}, false},
        {"gzip_acks_integer", {{"Compress", "gzip"}, {"Require_ack_response", "1"}, {"Time_as_Integer", "on"}}, true},
    };
    const std::vector<json> records = {
        {{"msg", "hello"}},
        {{"n", 42}, {"neg", -7}, {"big", 18446744073709551615ull}, {"f", 2.5}, {"t", true}, {"nil", nullptr}},
        {{"nested", {{"a", {1, 2, {{"b", "c"}}}}}}, {"empty_map", json::object()}, {"empty_arr", json::array()}},
        {{"unicode", "h\xc3\xa9llo \xe2\x82\xac"}, {"long", std::string(3000, 'x')}},
        json::object(),
    };
    size_t expected = 0;
    for (const Mode &m : modes) {
        SCOPED_TRACE(m.name);
        Output out(base(port, m.props));
        ASSERT_EQ(out.init(), 0);
        for (const char *tag : {"app.one", "app.two"}) {
            ChunkData chunk = make_chunk(std::string(tag) + "." + m.name, records, 1700000000, 987654321);
            ASSERT_EQ(out.flush(chunk), FlushResult::Ok);
            expected += records.size();
        }
        std::vector<json> ev = events_when(expected);
        ASSERT_EQ(ev.size(), expected);
        for (size_t i = 0; i < 2 * records.size(); ++i) {
            const json &e = ev[expected - 2 * records.size() + i];
            const char *tag = i < records.size() ? "app.one" : "app.two";
            EXPECT_EQ(e["tag"], std::string(tag) + "." + m.name);
            EXPECT_EQ(e["record"], records[i % records.size()]);
            uint32_t sec = 1700000000 + static_cast<uint32_t>(i % records.size());
            if (m.integer_time)
                EXPECT_EQ(e["time"], sec);
            else
                EXPECT_EQ(e["time"], (json{{"sec", sec}, {"nsec", 987654321}}));
        }
    }
}

TEST_F(ForwardReceiver, TagPropertyReplacesTheChunkTag) {
    int port = start_receiver();
    Output out(base(port, {{"Tag", "fixed.tag"}}));
    ASSERT_EQ(out.init(), 0);
    ASSERT_EQ(out.flush(make_chunk("raw_msgpack.0", {{{"k", "v"}}})), FlushResult::Ok);
    EXPECT_EQ(events_when(1)[0]["tag"], "fixed.tag");
}

TEST_F(ForwardReceiver, SharedKeyRightDeliversAndWrongIsRefusedWithTheReason) {
    int port = start_receiver({"key=s3cret", "name=receiver-host"});
    {
        Output out(base(port, {{"Shared_Key", "s3cret"}, {"Self_Hostname", "sender-host"}}));
        ASSERT_EQ(out.init(), 0);
        ASSERT_EQ(out.flush(numbered_chunk("auth.ok", 0, 3)), FlushResult::Ok);
        EXPECT_EQ(events_when(3).size(), 3u);
    }
    {
        StderrCapture err;
        Output out(base(port, {{"Shared_Key", "wrong"}, {"Self_Hostname", "sender-host"}}));
        ASSERT_EQ(out.init(), 0);
        EXPECT_EQ(out.flush(numbered_chunk("auth.bad", 100, 3)), FlushResult::Retry);
        EXPECT_EQ(out.flush(numbered_chunk("auth.bad", 100, 3)), FlushResult::Retry);
        std::string text = err.text();
        EXPECT_NE(text.find("[engine] [error] output forward.0: handshake with 127.0.0.1:" + std::to_string(port) +
                            " failed: authentication refused by the receiver: shared key mismatch"),
                  std::string::npos)
            << text;
    }
    // The good output's connection is still the only source of events.
    Output probe(base(port, {{"Shared_Key", "s3cret"}, {"Self_Hostname", "sender-host"}}));
    ASSERT_EQ(probe.init(), 0);
    ASSERT_EQ(probe.flush(numbered_chunk("auth.ok", 3, 1)), FlushResult::Ok);
    std::vector<json> ev = events_when(4);
    ASSERT_EQ(ev.size(), 4u);
    for (auto &e : ev)
        EXPECT_EQ(e["tag"], "auth.ok");
}

TEST_F(ForwardReceiver, SameHostNameAsTheReceiverIsRefused) {
    int port = start_receiver({"key=k", "name=same-name"});
    StderrCapture err;
    Output out(base(port, {{"Shared_Key", "k"}, {"Self_Hostname", "same-name"}}));
    ASSERT_EQ(out.init(), 0);
    EXPECT_EQ(out.flush(numbered_chunk("t", 0, 1)), FlushResult::Retry);
    EXPECT_NE(err.text().find("authentication refused by the receiver: Same hostname"), std::string::npos);
}

TEST_F(ForwardReceiver, UserAndPasswordAreCheckedByTheReceiver) {
    int port = start_receiver({"key=k", "name=rcv", "users=alice:wonder"});
    Output good(base(port, {{"Shared_Key", "k"}, {"Username", "alice"}, {"Password", "wonder"}}));
    ASSERT_EQ(good.init(), 0);
    EXPECT_EQ(good.flush(numbered_chunk("u", 0, 2)), FlushResult::Ok);
    EXPECT_EQ(events_when(2).size(), 2u);

    StderrCapture err;
    Output bad(base(port, {{"Shared_Key", "k"}, {"Username", "alice"}, {"Password", "nope"}}));
    ASSERT_EQ(bad.init(), 0);
    EXPECT_EQ(bad.flush(numbered_chunk("u", 2, 2)), FlushResult::Retry);
    EXPECT_NE(err.text().find("username/password mismatch"), std::string::npos);
}

TEST_F(ForwardReceiver, ReceiverDownGivesRetryAndUpLaterDelivers) {
    int port = free_port();
    ASSERT_GT(port, 0);
    Output out(base(port, {{"Require_ack_response", "on"}, {"Connect_Timeout", "2"}}));
    ASSERT_EQ(out.init(), 0);
    ChunkData chunk = numbered_chunk("late", 0, 5);
    {
        StderrCapture err;
        EXPECT_EQ(out.flush(chunk), FlushResult::Retry);
        EXPECT_NE(err.text().find("cannot connect to 127.0.0.1:" + std::to_string(port) + ": connect: Connection refused"),
                  std::string::npos);
    }
    ASSERT_EQ(start_receiver({}, port), port);
    EXPECT_EQ(out.flush(chunk), FlushResult::Ok);
    EXPECT_EQ(events_when(5).size(), 5u);
}

// With acks, a chunk counts as sent only once acknowledged: however the receiver's death
// falls between chunks, retrying every Retry until Ok loses nothing.
TEST_F(ForwardReceiver, ReceiverRestartedMidStreamWithAcksLosesNothing) {
    int port = start_receiver();
    Output out(base(port, {{"Require_ack_response", "on"}, {"Connect_Timeout", "2"}, {"Ack_Timeout", "5"}}));
    ASSERT_EQ(out.init(), 0);
    constexpr int kChunks = 30, kPerChunk = 20;
    int retries = 0;
    for (int c = 0; c < kChunks; ++c) {
        if (c == 10 || c == 20) {
            receiver_.stop();
            if (c == 20) {
                // Down for a while: the next flushes see a refused connection.
                for (int i = 0; i < 2; ++i) {
                    EXPECT_EQ(out.flush(numbered_chunk("stream", c * kPerChunk, kPerChunk)), FlushResult::Retry);
                    ++retries;
                }
            }
            ASSERT_EQ(start_receiver({}, port), port);
        }
        ChunkData chunk = numbered_chunk("stream", c * kPerChunk, kPerChunk);
        FlushResult r;
        ASSERT_TRUE(wait_until([&] {
            r = out.flush(chunk);
            retries += r == FlushResult::Retry;
            return r == FlushResult::Ok;
        }));
    }
    std::vector<json> ev = events_when(kChunks * kPerChunk);
    std::vector<int> seen(kChunks * kPerChunk, 0);
    for (auto &e : ev)
        ++seen.at(e["record"]["seq"].get<size_t>());
    for (int i = 0; i < kChunks * kPerChunk; ++i)
        EXPECT_GE(seen[i], 1) << "record " << i << " lost";
    EXPECT_GE(retries, 2);
}

// Without acks a write into a connection the receiver has closed would "succeed" and the
// chunk vanish; the output notices the hang-up before it writes and connects anew.
TEST_F(ForwardReceiver, WithoutAcksAChunkAfterARestartIsNotLost) {
    int port = start_receiver();
    Output out(base(port));
    ASSERT_EQ(out.init(), 0);
    ASSERT_EQ(out.flush(numbered_chunk("noack", 0, 5)), FlushResult::Ok);
    ASSERT_EQ(events_when(5).size(), 5u);
    receiver_.stop();
    ASSERT_EQ(start_receiver({}, port), port);
    ASSERT_EQ(out.flush(numbered_chunk("noack", 5, 5)), FlushResult::Ok);
    std::vector<json> ev = events_when(10);
    ASSERT_EQ(ev.size(), 10u);
    EXPECT_EQ(ev[9]["record"]["seq"], 9);
}

}  // namespace
}  // namespace fwdtest
