// A host that loads the plug-in keeps the C library's strnlen, and the plug-in's own
// strnlen (reached through the handle) gives the same answers.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using strnlen_fn = size_t (*)(const char *, size_t);

struct Case {
    const char *text;
    size_t max;
    size_t expected;
};
const Case kCases[] = {
    {"hello", 10, 5}, {"hello", 5, 5}, {"hello", 3, 3}, {"", 4, 0},
    {"abc", 0, 0},    {"abc", SIZE_MAX, 3},
};

void expect_cases(strnlen_fn fn, const char *who) {
    for (const Case &c : kCases)
        EXPECT_EQ(fn(c.text, c.max), c.expected) << who << ": " << c.text << " max " << c.max;
    // Long texts, every end position relative to word boundaries, not terminated at max.
    std::string buf(300, 'x');
    for (size_t start = 0; start < 16; ++start)
        for (size_t len = 0; len < 70; ++len) {
            std::string s = buf;
            s[start + len] = '\0';
            ASSERT_EQ(fn(s.data() + start, 200), len) << who;
            ASSERT_EQ(fn(s.data() + start, len / 2), len / 2) << who;
        }
}

TEST(StrnlenAfterDlopen, BothDefinitionsAnswerCorrectly) {
    for (int mode : {RTLD_NOW | RTLD_LOCAL, RTLD_NOW | RTLD_GLOBAL}) {
        void *plugin = dlopen(VEM_SENTREL_PATH, mode);
        ASSERT_NE(plugin, nullptr) << dlerror();
        void *libc = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
        ASSERT_NE(libc, nullptr) << dlerror();

        auto ours = reinterpret_cast<strnlen_fn>(dlsym(plugin, "strnlen"));
        auto theirs = reinterpret_cast<strnlen_fn>(dlsym(libc, "strnlen"));
        ASSERT_NE(ours, nullptr);
        ASSERT_NE(theirs, nullptr);
        EXPECT_NE(reinterpret_cast<void *>(ours), reinterpret_cast<void *>(theirs));
        expect_cases(ours, "libsentrel");
        expect_cases(theirs, "libc");

        // What the rest of the process binds to by name is still the C library's
        // (or, under AddressSanitizer, its interceptor in front of it).
        auto by_name = reinterpret_cast<strnlen_fn>(dlsym(RTLD_DEFAULT, "strnlen"));
#ifndef __SANITIZE_ADDRESS__
        EXPECT_EQ(reinterpret_cast<void *>(by_name), reinterpret_cast<void *>(theirs));
#endif
        expect_cases(by_name, "default");
        volatile strnlen_fn direct = strnlen;  // through this program's own binding
        expect_cases(direct, "direct");
        dlclose(libc);
        dlclose(plugin);
    }
}

}  // namespace
