// The environment lookup under both name forms, driven directly (it is internal to the
// library, so this program links the library's objects statically).
#include <gtest/gtest.h>

#include "fixture/log_capture.h"
#include "log/log_lines.h"
#include "support/log_state.h"

namespace {

using logtest::EnvVar;
using testhost::LogCapture;
using testhost::LogLine;

struct LookupCase {
    const char *name;     // as passed to vem_getenv
    const char *prefixed; // value of VEM_SAMPLE_SETTING
    const char *plain;    // value of SAMPLE_SETTING
    const char *result;
    std::vector<LogLine> lines;
};

class EnvironmentLookup : public ::testing::TestWithParam<LookupCase> {};

TEST_P(EnvironmentLookup, ReadsBothFormsAndSaysWhichItUses) {
    const LookupCase &c = GetParam();
    EnvVar prefixed("VEM_SAMPLE_SETTING", c.prefixed);
    EnvVar plain("SAMPLE_SETTING", c.plain);
    LogCapture capture(7);
    const char *value = vem_getenv(c.name);
    if (c.result == nullptr) {
        EXPECT_EQ(value, nullptr);
    } else {
        ASSERT_NE(value, nullptr);
        EXPECT_STREQ(value, c.result);
        // Not a copy: the value lives in the environment.
        EXPECT_TRUE(value == getenv("VEM_SAMPLE_SETTING") || value == getenv("SAMPLE_SETTING"));
    }
    EXPECT_EQ(capture.lines(), c.lines);
}

const LogLine kUsingPrefixedA{7, "[vem_getenv] Using 'VEM_SAMPLE_SETTING'='a'"};
const LogLine kConflict{4, "[vem_getenv] Environment variables conflict - VEM_SAMPLE_SETTING=a "
                           "and SAMPLE_SETTING=b. Using VEM_SAMPLE_SETTING"};

INSTANTIATE_TEST_SUITE_P(
    Forms, EnvironmentLookup,
    ::testing::Values(
        LookupCase{"VEM_SAMPLE_SETTING", "a", "b", "a", {kConflict, kUsingPrefixedA}},
        LookupCase{"SAMPLE_SETTING", "a", "b", "a", {kConflict, kUsingPrefixedA}},
        LookupCase{"SAMPLE_SETTING", "a", "a", "a", {kUsingPrefixedA}},
        LookupCase{
            "SAMPLE_SETTING", nullptr, "b", "b", {{7, "[vem_getenv] Using 'SAMPLE_SETTING'='b'"}}},
        LookupCase{"VEM_SAMPLE_SETTING",
                   nullptr,
                   nullptr,
                   nullptr,
                   {{7, "[vem_getenv] No value for 'VEM_SAMPLE_SETTING' or 'SAMPLE_SETTING'"}}}));

TEST(EnvironmentLookup, LevelVariableIsReadWithoutLogging) {
    LogCapture capture(7);
    {
        EnvVar prefixed("VEM_API_LOG_LEVEL", "7");
        EnvVar plain("API_LOG_LEVEL", "3");
        EXPECT_STREQ(vem_getenv("VEM_API_LOG_LEVEL"), "7");
    }
    {
        EnvVar prefixed("VEM_API_LOG_LEVEL", nullptr);
        EnvVar plain("API_LOG_LEVEL", "3");
        EXPECT_STREQ(vem_getenv("VEM_API_LOG_LEVEL"), "3");
    }
    EXPECT_EQ(vem_getenv("VEM_API_LOG_LEVEL"), nullptr);
    EXPECT_TRUE(capture.lines().empty());
}

TEST(EnvironmentLookup, LongNamesAreFormedWhole) {
    std::string plain_name(100, 'L');
    std::string prefixed_name = "VEM_" + plain_name;
    EnvVar plain(plain_name.c_str(), "long");
    LogCapture capture(7);
    EXPECT_STREQ(vem_getenv(prefixed_name.c_str()), "long");
    EXPECT_STREQ(vem_getenv(plain_name.c_str()), "long");
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[1].text, "[vem_getenv] Using '" + plain_name + "'='long'");
}

} // namespace
