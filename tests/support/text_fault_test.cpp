// Allocation failures in the number and string helpers that allocate: the result is
// NULL and the message is the documented one (leaks: see the valgrind run).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fault_inject.h"
#include "fixture/log_capture.h"
#include "support/vem_numbers.h"
#include "support/vem_strings.h"

namespace {

struct Case {
    const char *name;
    char *(*call)();
    std::string message;
};

const Case kCases[] = {
    {"hex string", [] { return vem_get_hex_string_from_uint64(255); },
     "Failed to allocate memory for hex string"},
    {"template", [] { return vem_expand_string_template("%s-%d", "abc", 12); },
     "Failed to allocate buffer for expanded string of size 7: Cannot allocate memory"},
    {"comma token", [] { return string_concat_comma_separated_token("a", "b"); },
     "[string_concat_comma_separated_token] Failed in malloc"},
    {"comma token, no list", [] { return string_concat_comma_separated_token(nullptr, "b"); },
     "[string_concat_comma_separated_token] Failed in malloc"},
    {"concat", [] { return string_concat("a", "b"); }, "[string_concat] Failed in malloc"},
    {"basename", [] { return get_allocated_basename("/a/b"); }, ""},
};

TEST(TextAllocationFailure, NullResultAndItsMessage) {
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.name);
        testhost::LogCapture log(3);
        char *result = nullptr;
        vem_fault_fail_nth(1);
        result = c.call();
        bool fired = vem_fault_fired();
        vem_fault_fail_nth(0);
        ASSERT_TRUE(fired);
        EXPECT_EQ(result, nullptr);
        std::vector<std::string> expected;
        if (!c.message.empty())
            expected.push_back(c.message);
        EXPECT_EQ(log.texts(), expected);
        free(c.call());  // and without the failure it succeeds
    }
}

}  // namespace
