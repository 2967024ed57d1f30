// The three rate-limited messages of strncpy_visible_ascii, each with its own
// last-emission time, driven by an injected clock (white box: links the static archive).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fixture/log_capture.h"
#include "support/vem_strings.h"

extern "C" void vem_strings_set_clock_for_test(uint64_t (*clock)(void));

namespace {

// Far beyond the real clock, so the first message of each kind is due whatever an
// earlier test of this process recorded.
uint64_t fake_now_us = 4000000000000000000ULL;
int clock_reads = 0;
uint64_t fake_clock() {
    ++clock_reads;
    return fake_now_us;
}

struct RateLimitTest : ::testing::Test {
    void SetUp() override { vem_strings_set_clock_for_test(fake_clock); }
    void TearDown() override { vem_strings_set_clock_for_test(nullptr); }
    char buf[8];
};

const std::string kZero = "strncpy_visible_ascii: Length is 0";
const std::string kNullDst = "strncpy_visible_ascii: Destination buffer is NULL";
const std::string kNullSrc = "strncpy_visible_ascii: Source string is NULL";

TEST_F(RateLimitTest, EachMessageAtMostOncePerTenSeconds) {
    testhost::LogCapture log(3);
    fake_now_us += 100000000;
    struct Step {
        uint64_t advance_us;
        std::vector<std::string> expected;  // messages of this step's three calls
    };
    const Step steps[] = {
        {0, {kZero, kNullDst, kNullSrc}},  // the first of each kind
        {1000000, {}},                     // a second later
        {8999999, {}},                     // exactly 9999999 us after: not more than that
        {1, {kZero, kNullDst, kNullSrc}},  // 10 s after
        {5000000, {}},
    };
    for (const Step &s : steps) {
        fake_now_us += s.advance_us;
        log.clear();
        EXPECT_EQ(strncpy_visible_ascii(buf, "x", 0), buf);
        EXPECT_EQ(strncpy_visible_ascii(nullptr, "x", 8), nullptr);
        EXPECT_EQ(strncpy_visible_ascii(buf, nullptr, 8), buf);
        EXPECT_EQ(log.texts(), s.expected) << "after +" << s.advance_us;
    }
}

TEST_F(RateLimitTest, KindsAreLimitedSeparately) {
    testhost::LogCapture log(3);
    fake_now_us += 100000000;
    strncpy_visible_ascii(buf, "x", 0);
    fake_now_us += 6000000;
    strncpy_visible_ascii(buf, nullptr, 8);  // its own time: still due
    strncpy_visible_ascii(buf, "x", 0);      // 6 s after the last one of its kind
    fake_now_us += 5000000;
    strncpy_visible_ascii(buf, "x", 0);      // 11 s after
    strncpy_visible_ascii(buf, nullptr, 8);  // 5 s after
    EXPECT_EQ(log.texts(), (std::vector<std::string>{kZero, kNullSrc, kZero}));
}

TEST_F(RateLimitTest, QuietLoggerNeitherReadsTheClockNorRecords) {
    fake_now_us += 100000000;
    {
        testhost::LogCapture log(3);
        strncpy_visible_ascii(buf, "x", 0);  // recorded now
        ASSERT_EQ(log.texts().size(), 1U);
    }
    {
        testhost::LogCapture quiet(2);
        fake_now_us += 20000000;
        clock_reads = 0;
        strncpy_visible_ascii(buf, "x", 0);
        EXPECT_EQ(clock_reads, 0);
        EXPECT_TRUE(quiet.texts().empty());
    }
    testhost::LogCapture log(3);
    strncpy_visible_ascii(buf, "x", 0);  // 20 s after the recorded time
    EXPECT_EQ(log.texts(), std::vector<std::string>{kZero});
    EXPECT_EQ(log.lines()[0].level, 3);
}

}  // namespace
