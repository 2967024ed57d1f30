// libpostvane to a real forward-protocol receiver (FluentServer) through the engine's
// "forward" output: every record arrives once with its tag, also after the fallback from
// an unknown output, from two contexts on two threads, and when the receiver only comes
// up after the records were added.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine_probe.h"
#include "forward_receiver.h"
#include "msgpack_events.h"
#include "postvane.h"
#include "stdout_capture.h"
#include "fixture/watchdog.h"

using testhost::Watchdog;

namespace {

using namespace forwarder_test;

constexpr int kBuffers = 60; // each with one event of every shape

// Adds kBuffers buffers of three events each, numbered from 0, with `source` in each record.
void add_numbered_events(raw_context_t *context, const std::string &source) {
    const Shape shapes[] = {Shape::TimeRecord, Shape::TimeMetaRecord, Shape::BareRecord};
    int seq = 0;
    for (int i = 0; i < kBuffers; ++i) {
        Bytes buffer;
        for (Shape shape : shapes) {
            json time = seq % 2 ? json(1700000000 + seq) : event_time(1700000000, seq);
            append(buffer, event(shape, {{"seq", seq}, {"source", source}, {"nested", {{"a", {1, 2}}}}},
                                 time));
            ++seq;
        }
        ASSERT_EQ(add_data(context, buffer.data(), static_cast<int>(buffer.size())), 0) << i;
    }
}

// Checks that the entries of `tag` are exactly the numbered events of `source`, once each.
void expect_all_once(const std::vector<json> &entries, const std::string &tag,
                     const std::string &source) {
    std::map<int, int> seen;
    for (const json &e : entries) {
        if (e["tag"] != tag)
            continue;
        EXPECT_EQ(e["record"]["source"], source);
        EXPECT_EQ(e["record"]["nested"]["a"], json::array({1, 2}));
        ++seen[e["record"]["seq"].get<int>()];
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(3 * kBuffers)) << tag;
    for (const auto &[seq, count] : seen)
        EXPECT_EQ(count, 1) << tag << " seq " << seq;
}

raw_context_t *init_forward(const char *plugin, const std::string &port, const char *tag,
                            const char *label) {
    const output_plugin_param_t items[] = {{"tag_match_pair", tag}};
    const output_plugin_params_t params{1, items};
    return init(plugin, "127.0.0.1", port.c_str(), &params, label);
}

class ForwardEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override { SKIP_WITHOUT_OUTPUT("forward"); }
};

TEST_F(ForwardEndToEnd, EveryRecordArrivesOnceWithTheTag) {
    Watchdog watchdog("forward delivery");
    ForwardReceiver receiver;
    ASSERT_TRUE(receiver.listening());
    raw_context_t *context = init_forward("forward", receiver.port_text(), "pv.e2e", "fwd_e2e");
    ASSERT_NE(context, nullptr);
    add_numbered_events(context, "one");
    EXPECT_EQ(finalize(context), 0);
    receiver.wait_for(3 * kBuffers);
    expect_all_once(receiver.stop(), "pv.e2e", "one");
    EXPECT_EQ(receiver.stop().size(), static_cast<size_t>(3 * kBuffers));
}

TEST_F(ForwardEndToEnd, AnUnknownOutputFallsBackToForwardAndStillDelivers) {
    Watchdog watchdog("forward fallback");
    ForwardReceiver receiver;
    ASSERT_TRUE(receiver.listening());
    StdoutCapture capture;
    raw_context_t *context =
        init_forward("no_such_output", receiver.port_text(), "pv.fallback", "fwd_fallback");
    std::string out = capture.finish();
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(out.rfind("[Postvane] warning: failed to cerate output instance 'no_such_output', "
                        "will use the default 'forward'\n",
                        0),
              0u)
        << out;
    add_numbered_events(context, "fallback");
    EXPECT_EQ(finalize(context), 0);
    receiver.wait_for(3 * kBuffers);
    expect_all_once(receiver.stop(), "pv.fallback", "fallback");
}

TEST_F(ForwardEndToEnd, TwoContextsOnTwoThreadsDeliverTheirOwnRecords) {
    Watchdog watchdog("forward two contexts");
    ForwardReceiver receiver;
    ASSERT_TRUE(receiver.listening());
    auto run = [&](const char *tag, const char *source) {
        raw_context_t *context = init_forward("forward", receiver.port_text(), tag, source);
        ASSERT_NE(context, nullptr);
        add_numbered_events(context, source);
        EXPECT_EQ(finalize(context), 0);
    };
    std::thread a(run, "pv.thread.a", "a");
    std::thread b(run, "pv.thread.b", "b");
    a.join();
    b.join();
    receiver.wait_for(6 * kBuffers);
    const std::vector<json> &entries = receiver.stop();
    EXPECT_EQ(entries.size(), static_cast<size_t>(6 * kBuffers));
    expect_all_once(entries, "pv.thread.a", "a");
    expect_all_once(entries, "pv.thread.b", "b");
}

TEST_F(ForwardEndToEnd, AReceiverThatComesUpBeforeFinalizeLosesNothing) {
    Watchdog watchdog("forward late receiver");
    const int port = free_tcp_port();
    ASSERT_GT(port, 0);
    raw_context_t *context = init_forward("forward", std::to_string(port), "pv.late", "fwd_late");
    ASSERT_NE(context, nullptr);
    add_numbered_events(context, "late");
    ForwardReceiver receiver(port); // only now is anything listening
    ASSERT_TRUE(receiver.listening());
    EXPECT_EQ(finalize(context), 0);
    receiver.wait_for(3 * kBuffers);
    expect_all_once(receiver.stop(), "pv.late", "late");
}

} // namespace
