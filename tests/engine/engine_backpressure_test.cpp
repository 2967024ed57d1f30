// Back-pressure and retries, with the test-only output "flaky" that fails while a file
// exists: a full buffer holds the doorbell answer back, nothing is lost once the output
// recovers, a held request is answered at stop, and retries end at Retry_Limit.
#include "engine_test_support.h"

using namespace enginetest;

namespace {

size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class BackPressure : public ::testing::Test {
  protected:
    void SetUp() override {
        fail_while_ = unique_path("fail");
        out_file_ = unique_path("out");
        fail(true);
        out_ = engine_.add_output("flaky");
        ASSERT_GE(out_, 0);
        ASSERT_EQ(flb_output_set(engine_.ctx(), out_, "Fail_While", fail_while_.c_str(), "Out_File",
                                 out_file_.c_str(), "Retry_Limit", "no_limits", NULL),
                  0);
        ASSERT_EQ(flb_input_set(engine_.ctx(), engine_.input(), "Mem_Buf_Limit", "1k", NULL), 0);
    }
    void TearDown() override {
        unlink(fail_while_.c_str());
        unlink(out_file_.c_str());
    }
    void fail(bool on) {
        if (on)
            fclose(fopen(fail_while_.c_str(), "w"));
        else
            unlink(fail_while_.c_str());
    }
    std::string delivered() { return read_file(out_file_); }
    // A buffer of n records of about 100 bytes each.
    static std::string records(int n, const char *prefix) {
        Pack p;
        for (int i = 0; i < n; ++i)
            p.array(2).uint(1000 + i).record(std::string(prefix) + std::to_string(i) +
                                             std::string(90, '.'));
        return p.bytes();
    }

    TestEngine engine_;
    DoorbellClient client_;
    std::string fail_while_, out_file_;
    int out_ = -1;
};

TEST_F(BackPressure, FullBufferHoldsTheAnswerUntilTheOutputRecovers) {
    ASSERT_TRUE(engine_.start());
    std::string first = records(20, "first-"); // above the 1k limit on its own
    std::string second = records(5, "second-");
    auto a = client_.ring(engine_.path(), first);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->records, 20u);
    ASSERT_TRUE(
        client_.send_request(engine_.path(), static_cast<int32_t>(second.size()), second.data()));
    // Once the output has failed the first chunk, the buffer is full for as long as it
    // keeps failing: the second request stays unanswered.
    ASSERT_TRUE(eventually([&] { return delivered().find("failed 20") != std::string::npos; }));
    EXPECT_FALSE(client_.answer_pending());
    fail(false);
    auto b = client_.answer(); // comes once the retry has delivered the first chunk
    ASSERT_TRUE(b);
    EXPECT_EQ(b->status, RAW_MSGPACK_ACCEPTED);
    EXPECT_EQ(b->records, 5u);
    ASSERT_EQ(engine_.stop(), 0);
    std::string text = delivered();
    EXPECT_EQ(count(text, "\"msg\":\"first-"), 20u) << text;
    EXPECT_EQ(count(text, "\"msg\":\"second-"), 5u) << text;
    EXPECT_LT(text.find("first-19"), text.find("second-0")) << "order of the tag kept";
}

TEST_F(BackPressure, HeldRequestIsRefusedAtStopAndDropsAreCounted) {
    ASSERT_EQ(flb_service_set(engine_.ctx(), "Grace", "0", NULL), 0);
    ASSERT_TRUE(engine_.start());
    std::string first = records(20, "first-");
    std::string second = records(5, "second-");
    ASSERT_TRUE(client_.ring(engine_.path(), first));
    ASSERT_TRUE(
        client_.send_request(engine_.path(), static_cast<int32_t>(second.size()), second.data()));
    ASSERT_TRUE(eventually([&] { return delivered().find("failed 20") != std::string::npos; }));
    FdCapture err(2);
    ASSERT_EQ(engine_.stop(), 0);
    std::string log = err.stop();
    auto b = client_.answer();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->status, RAW_MSGPACK_REFUSED);
    EXPECT_EQ(b->records, 0u);
    EXPECT_NE(log.find("[engine] [warn] stop: 20 records were not delivered within the Grace of 0s "
                       "and are dropped"),
              std::string::npos)
        << log;
}

TEST_F(BackPressure, StopRetriesAtOnceWithinGrace) {
    ASSERT_EQ(flb_service_set(engine_.ctx(), "Grace", "30", NULL), 0);
    ASSERT_TRUE(engine_.start());
    ASSERT_TRUE(client_.ring(engine_.path(), records(3, "r")));
    ASSERT_TRUE(eventually([&] { return delivered().find("failed 3") != std::string::npos; }));
    // The output recovers while the chunk waits for its next retry: flb_stop retries it
    // (at once, then with backoff) within Grace, so nothing is dropped.
    fail(false);
    ASSERT_EQ(engine_.stop(), 0);
    EXPECT_EQ(count(delivered(), "\"msg\":\"r"), 3u);
}

TEST_F(BackPressure, ChunkIsDroppedOnceItsRetriesAreSpent) {
    ASSERT_EQ(flb_output_set(engine_.ctx(), out_, "Retry_Limit", "0", NULL), 0);
    ASSERT_EQ(flb_input_set(engine_.ctx(), engine_.input(), "Tag", "app.one", NULL), 0);
    FdCapture err(2);
    ASSERT_TRUE(engine_.start());
    ASSERT_TRUE(client_.ring(engine_.path(), records(4, "r")));
    ASSERT_TRUE(eventually([&] { return delivered().find("failed 4") != std::string::npos; }));
    ASSERT_EQ(engine_.stop(), 0);
    std::string log = err.stop();
    EXPECT_NE(log.find("[engine] [error] output flaky.0: chunk of tag 'app.one' with 4 records "
                       "dropped: no success "
                       "after 0 retries"),
              std::string::npos)
        << log;
    EXPECT_EQ(count(delivered(), "failed 4"), 1u);
}

// An output whose init fails makes flb_start fail; the outputs already started are
// stopped again, and the input never listened.
TEST(OutputInit, FailedInitFailsTheStart) {
    TestEngine e;
    ASSERT_GE(e.add_output("null"), 0);
    int bad = e.add_output("flaky");
    ASSERT_EQ(flb_output_set(e.ctx(), bad, "Init_Fails", "on", NULL), 0);
    FdCapture err(2);
    EXPECT_FALSE(e.start());
    std::string log = err.stop();
    EXPECT_NE(log.find("output flaky.0: initialisation failed"), std::string::npos) << log;
    EXPECT_NE(access(e.path().c_str(), F_OK), 0);
    EXPECT_EQ(e.stop(), 0);
}

} // namespace
