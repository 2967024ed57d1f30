// String utilities, table-driven: trimming, templates, GUIDs, joining, searching, base
// names, suffixes and bounded copies.
#include <gtest/gtest.h>

#include <array>
#include <cstdarg>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixture/log_capture.h"
#include "support/vem_strings.h"

namespace {

// Frees a heap text from the library and gives it back as a string ("<NULL>" for NULL).
std::string take(char *text) {
    std::string s = text ? text : "<NULL>";
    free(text);
    return s;
}

TEST(Trim, InPlace) {
    const struct {
        const char *input;
        size_t offset;  // where the result points into the buffer
        const char *result;
    } cases[] = {
        {"  ab\t\n", 2, "ab"}, {"   ", 3, ""},      {"", 0, ""},           {"x", 0, "x"},
        {"a b", 0, "a b"},     {"\v\fz \r", 2, "z"}, {" a  b  ", 1, "a  b"},
    };
    for (const auto &c : cases) {
        std::string buf = c.input;
        char *r = trim_white_space(buf.data());
        EXPECT_EQ(r - buf.data(), static_cast<ptrdiff_t>(c.offset)) << '"' << c.input << '"';
        EXPECT_STREQ(r, c.result) << '"' << c.input << '"';
    }
}

char *expand_via_va_list(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *s = vem_vexpand_string_template(format, args);
    va_end(args);
    return s;
}

TEST(Template, ExpandsIntoANewText) {
    EXPECT_EQ(take(vem_expand_string_template("/tmp/%s-%d.sock", "raw", 42)), "/tmp/raw-42.sock");
    EXPECT_EQ(take(vem_expand_string_template("%s", "")), "");
    EXPECT_EQ(take(expand_via_va_list("%05u|%s|%c", 7U, "mid", 'z')), "00007|mid|z");
    std::string big(10000, 'q');
    EXPECT_EQ(take(vem_expand_string_template("<%s>", big.c_str())), "<" + big + ">");
}

// In the "C" locale a wide character beyond ASCII cannot be converted, and the C
// library's measuring call reports an error.
TEST(Template, UnmeasurableExpansionIsLogged) {
    testhost::LogCapture log;
    EXPECT_EQ(vem_expand_string_template("%ls", L"\x263A"), nullptr);
    const char *no_format = nullptr;
    EXPECT_EQ(vem_expand_string_template(no_format), nullptr);
    EXPECT_EQ(log.texts(3),
              std::vector<std::string>(2, "Failed to calculate length of expanded string template"));
}

TEST(Guid, Parsing) {
    const std::array<uint8_t, 16> seq = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef,
                                         0xfe, 0xdc, 0xba, 0x98, 0x76, 0x54, 0x32, 0x10};
    const struct {
        const char *text;
        bool ok;
    } cases[] = {
        {"01234567-89ab-cdef-fedc-ba9876543210", true},
        {"0123456789abcdeffedcba9876543210", true},
        {"0123456789ABCDEFFEDCBA9876543210", true},
        {"0-1234567-89ab-cdef-fedc-ba98765432--10-", true},  // dashes anywhere
        {"0123456789abcdeffedcba98765432105", true},         // 33 digits: the last ignored
        {"0123456789abcdeffedcba987654321", false},          // 31
        {"0123456789abcdeffedcba987654321000", false},       // 34
        {"{01234567-89ab-cdef-fedc-ba9876543210}", false},
        {"01234567 89ab-cdef-fedc-ba9876543210", false},
        {"0123456789abcdeffedcba987654321g", false},
        {"", false},
        {"----", false},
    };
    for (const auto &c : cases) {
        std::array<uint8_t, 16> g{};
        EXPECT_EQ(string_to_guid(c.text, g.data()), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(g, seq) << c.text;
        }
    }
    uint8_t g[16];
    EXPECT_FALSE(string_to_guid(nullptr, g));
    EXPECT_FALSE(string_to_guid("0123456789abcdeffedcba9876543210", nullptr));
}

// The seventeenth byte is never stored: a guard byte behind the 16 stays.
TEST(Guid, NeverWritesASeventeenthByte) {
    std::array<uint8_t, 17> g;
    g.fill(0xEE);
    EXPECT_FALSE(string_to_guid("00000000000000000000000000000000ff", g.data()));
    EXPECT_EQ(g[16], 0xEE);
    EXPECT_EQ(g[15], 0x00);
}

TEST(Guid, WordDetection) {
    const struct {
        const char *text;
        bool contains;
    } cases[] = {
        {"GUID", true},   {"app_guid", true}, {"guid-1", true},  {"Guid:", true},
        {"guid2", true},  {"x guid y", true}, {"1guid", true},   {"guids", false},
        {"myguid", false}, {"gui", false},    {"gu id", false},  {"gguid", false},
        {"guguid", false}, {"", false},       {"guidguid", false}, {"guids guid", true},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vem_string_contains_guid(c.text), c.contains) << c.text;
    EXPECT_FALSE(vem_string_contains_guid(nullptr));
}

TEST(Concat, CommaSeparatedToken) {
    const struct {
        const char *list;
        const char *token;
        const char *result;
    } cases[] = {
        {nullptr, "a", "a"}, {"a", "b", "a,b"}, {"", "b", "b"}, {"a,b", "c", "a,b,c"},
        {"a", "", "a,"},     {nullptr, "", ""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(take(string_concat_comma_separated_token(c.list, c.token)), c.result)
            << (c.list ? c.list : "NULL") << " + " << c.token;
    EXPECT_EQ(string_concat_comma_separated_token("a", nullptr), nullptr);
}

TEST(Concat, TwoTexts) {
    EXPECT_EQ(take(string_concat("ab", "cd")), "abcd");
    EXPECT_EQ(take(string_concat("", "")), "");
    EXPECT_EQ(take(string_concat("x", "")), "x");
    EXPECT_EQ(string_concat(nullptr, "x"), nullptr);
}

TEST(FindIthSubstr, OverlappingOccurrences) {
    const struct {
        const char *text, *needle;
        size_t index;
        bool found;
        size_t pos;
    } cases[] = {
        {"aaa", "aa", 0, true, 0},  {"aaa", "aa", 1, true, 1}, {"aaa", "aa", 2, false, 0},
        {"a,b,c", ",", 1, true, 3}, {"abc", "", 2, true, 2},   {"abc", "", 3, false, 0},
        {"", "", 0, false, 0},      {"ab", "abc", 0, false, 0}, {"xabxab", "ab", 1, true, 4},
    };
    for (const auto &c : cases) {
        size_t pos = 999;
        EXPECT_EQ(find_ith_substr(c.text, c.needle, c.index, &pos), c.found)
            << c.text << " / " << c.needle << " #" << c.index;
        EXPECT_EQ(pos, c.found ? c.pos : 999) << c.text << " / " << c.needle << " #" << c.index;
    }
}

TEST(FindIthSubstr, NullArgumentsAreLogged) {
    testhost::LogCapture log;
    size_t pos = 0;
    EXPECT_FALSE(find_ith_substr(nullptr, "a", 0, &pos));
    EXPECT_FALSE(find_ith_substr("a", nullptr, 0, &pos));
    EXPECT_FALSE(find_ith_substr("a", "a", 0, nullptr));
    EXPECT_EQ(log.texts(3), std::vector<std::string>(3, "[find_ith_substr] invalid input"));
}

TEST(Basename, LastPathComponent) {
    const std::pair<const char *, const char *> cases[] = {
        {"/usr/lib/x.so", "x.so"}, {"/x", "x"}, {"a/", ""}, {"x", "x"}, {"/", ""},
        {"a//b", "b"},
    };
    for (auto [path, base] : cases)
        EXPECT_EQ(take(get_allocated_basename(path)), base) << path;
    EXPECT_EQ(get_allocated_basename(""), nullptr);
    EXPECT_EQ(get_allocated_basename(nullptr), nullptr);
}

TEST(EndsWith, Suffixes) {
    const struct {
        const char *str, *suffix;
        bool result;
    } cases[] = {
        {"libsentrel.so", ".so", true}, {"a.SO", ".so", false}, {"so", ".so", false},
        {"abc", "", true},              {"", "", true},        {"abc", "abc", true},
        {"xabc", "abd", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(vem_string_ends_with(c.str, c.suffix), c.result) << c.str << " / " << c.suffix;
}

TEST(Strncpy, RawBoundedCopy) {
    const struct {
        size_t dst_size, count, copied;
    } cases[] = {{4, 10, 3}, {10, 3, 3}, {4, 4, 3}, {5, 4, 4}, {1, 5, 0}, {0, 5, 0}};
    const char src[] = "abc\0efghij";  // zero bytes do not stop the copy
    for (const auto &c : cases) {
        char dst[16];
        memset(dst, '#', sizeof dst);
        EXPECT_EQ(vem_strncpy(dst, c.dst_size, src, c.count), c.copied) << c.dst_size << "/" << c.count;
        if (c.dst_size == 0) {
            EXPECT_EQ(dst[0], '#');
            continue;
        }
        EXPECT_EQ(memcmp(dst, src, c.copied), 0);
        EXPECT_EQ(dst[c.copied], '\0');
        EXPECT_EQ(dst[c.copied + 1], '#');
    }
}

TEST(VisibleAscii, CopiesTheVisiblePrefix) {
    const struct {
        const char *src;
        size_t len;
        const char *expected;  // exact buffer contents up to len
        size_t expected_len;
    } cases[] = {
        {"ab\tcd", 8, "ab\0\0\0\0\0\0", 8},
        {"\tab", 8, "N/A\0\0\0\0\0", 8},
        {"", 8, "\0\0\0\0\0\0\0\0", 8},
        {"\tab", 3, "N/\0", 3},
        {"\tab", 1, "\0", 1},
        {"abcdefgh", 4, "abc\0", 4},
        {" ~", 4, " ~\0\0", 4},
        {"a\x7f" "b", 4, "a\0\0\0", 4},
        {"\x80zz", 5, "N/A\0\0", 5},
        {"ok\xe9", 5, "ok\0\0\0", 5},
    };
    for (const auto &c : cases) {
        char dst[16];
        memset(dst, '#', sizeof dst);
        EXPECT_EQ(strncpy_visible_ascii(dst, c.src, c.len), dst);
        EXPECT_EQ(std::string(dst, c.len), std::string(c.expected, c.expected_len)) << c.src;
        EXPECT_EQ(dst[c.len], '#') << c.src;
    }
}

}  // namespace
