// Buffers through the engine to its "stdout" output: every event shape and time form
// arrives as one record with the configured tag, a rejected buffer leaves the next one
// unharmed, and a buffer may be reused as soon as add_data has returned.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "msgpack_events.h"
#include "postvane.h"
#include "stdout_capture.h"
#include "fixture/watchdog.h"

using testhost::Watchdog;

namespace {

using namespace forwarder_test;

// The JSON lines the stdout output printed (anything else on standard output is skipped).
std::vector<json> records_in(const std::string &out) {
    std::vector<json> records;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line))
        if (!line.empty() && line[0] == '{')
            records.push_back(json::parse(line));
    return records;
}

struct StdoutContext {
    explicit StdoutContext(const char *tag) {
        items[0] = {"tag_match_pair", tag};
        params = {1, items};
        context = init("stdout", "", "", tag[0] ? &params : nullptr, "stdout_e2e");
    }
    // Stops the engine (which flushes) and returns what was printed.
    std::string finish() {
        EXPECT_EQ(finalize(context), 0);
        context = nullptr;
        return capture.finish();
    }
    ~StdoutContext() {
        if (context != nullptr)
            finalize(context);
    }
    StdoutCapture capture; // set up before init, so that init's lines are captured too
    output_plugin_param_t items[1];
    output_plugin_params_t params;
    raw_context_t *context;
};

TEST(StdoutEndToEnd, EveryShapeAndTimeFormArrivesWithTheTag) {
    Watchdog watchdog("stdout shapes");
    StdoutContext s("e2e.shapes");
    ASSERT_NE(s.context, nullptr);
    Bytes buffer;
    append(buffer, event(Shape::TimeRecord, {{"n", 1}}, 1700000001));
    append(buffer, event(Shape::TimeRecord, {{"n", 2}}, 1700000002.5));
    append(buffer, event(Shape::TimeMetaRecord, {{"n", 3}}, event_time(1700000003, 7)));
    append(buffer, event(Shape::BareRecord, {{"n", 4}, {"text", "hello"}}));
    EXPECT_EQ(add_data(s.context, buffer.data(), static_cast<int>(buffer.size())), 0);
    std::vector<json> records = records_in(s.finish());
    ASSERT_EQ(records.size(), 4u);
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i]["tag"], "e2e.shapes");
        EXPECT_EQ(records[i]["record"]["n"], i + 1);
    }
    EXPECT_DOUBLE_EQ(records[0]["time"].get<double>(), 1700000001.0);
    EXPECT_DOUBLE_EQ(records[1]["time"].get<double>(), 1700000002.5);
    EXPECT_NEAR(records[2]["time"].get<double>(), 1700000003.000000007, 1e-6);
    EXPECT_EQ(records[3]["record"]["text"], "hello");
}

TEST(StdoutEndToEnd, WithoutATagTheInputsDefaultTagIsUsed) {
    StdoutContext s("");
    ASSERT_NE(s.context, nullptr);
    Bytes buffer;
    append(buffer, event(Shape::BareRecord, {{"k", "v"}}));
    EXPECT_EQ(add_data(s.context, buffer.data(), static_cast<int>(buffer.size())), 0);
    std::vector<json> records = records_in(s.finish());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["tag"], "raw_msgpack.0");
}

TEST(StdoutEndToEnd, ARejectedBufferIsReportedAndTheNextGoesThrough) {
    Watchdog watchdog("stdout rejection");
    StdoutContext s("e2e.reject");
    ASSERT_NE(s.context, nullptr);
    Bytes good;
    append(good, event(Shape::TimeRecord, {{"seq", 1}}));
    // A valid event followed by a byte that is never valid: rejected whole.
    Bytes bad = good;
    bad.push_back(0xc1);
    Bytes truncated(good.begin(), good.end() - 1);
    EXPECT_EQ(add_data(s.context, bad.data(), static_cast<int>(bad.size())), -1);
    EXPECT_EQ(add_data(s.context, truncated.data(), static_cast<int>(truncated.size())), -1);
    EXPECT_EQ(add_data(s.context, good.data(), -1), -1); // refused: negative size
    EXPECT_EQ(add_data(s.context, good.data(), 0), 0);   // nothing sent
    EXPECT_EQ(add_data(s.context, good.data(), static_cast<int>(good.size())), 0);
    std::vector<json> records = records_in(s.finish());
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0]["record"]["seq"], 1);
}

TEST(StdoutEndToEnd, ABufferIsFreeForReuseOnceAddDataReturns) {
    Watchdog watchdog("stdout reuse");
    StdoutContext s("e2e.reuse");
    ASSERT_NE(s.context, nullptr);
    constexpr int kBuffers = 300;
    Bytes buffer;
    for (int i = 0; i < kBuffers; ++i) {
        buffer.clear();
        append(buffer, event(Shape::TimeRecord, {{"seq", i}, {"pad", std::string(i % 50, 'x')}}));
        ASSERT_EQ(add_data(s.context, buffer.data(), static_cast<int>(buffer.size())), 0) << i;
        std::fill(buffer.begin(), buffer.end(), 0xc1); // overwritten at once
    }
    std::vector<json> records = records_in(s.finish());
    ASSERT_EQ(records.size(), static_cast<size_t>(kBuffers));
    for (int i = 0; i < kBuffers; ++i)
        EXPECT_EQ(records[i]["record"]["seq"], i);
}

} // namespace
