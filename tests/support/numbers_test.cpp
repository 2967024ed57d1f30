// Number parsers and formatters: what is accepted, what is rejected, and that a
// rejection never writes *out.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fixture/log_capture.h"
#include "support/vem_numbers.h"

namespace {

constexpr long kUntouched = 0x5A5A;

struct ParseCase {
    const char *text;
    bool ok;
    long long value;
};

// Base 0, whole text, overflow at the type's limits.
const ParseCase kSignedCases[] = {
    {"0x1F", true, 31},
    {"0X1f", true, 31},
    {"010", true, 8},
    {"+7", true, 7},
    {"-7", true, -7},
    {"  42", true, 42},
    {"0", true, 0},
    {"9223372036854775807", true, LLONG_MAX},
    {"-9223372036854775808", true, LLONG_MIN},
    {"9223372036854775808", false, 0},
    {"-9223372036854775809", false, 0},
    {"08", false, 0},
    {"42 ", false, 0},
    {"", false, 0},
    {"   ", false, 0},
    {"12abc", false, 0},
    {"0x", false, 0},
    {"-", false, 0},
    {"1.5", false, 0},
};

TEST(NumberParsers, SignedLongAndLongLong) {
    for (const ParseCase &c : kSignedCases) {
        long l = kUntouched;
        long long ll = kUntouched;
        EXPECT_EQ(string_to_long(c.text, &l), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(string_to_long_long(c.text, &ll), c.ok) << '"' << c.text << '"';
        EXPECT_EQ(l, c.ok ? c.value : kUntouched) << '"' << c.text << '"';
        EXPECT_EQ(ll, c.ok ? c.value : kUntouched) << '"' << c.text << '"';
    }
}

TEST(NumberParsers, UnsignedBaseParsers) {
    const struct {
        const char *text;
        bool ok;
        unsigned long long value;
    } cases[] = {
        {"18446744073709551615", true, ULLONG_MAX},
        {"0xffffffffffffffff", true, ULLONG_MAX},
        {"18446744073709551616", false, 0},
        {"-1", true, ULLONG_MAX},  // the C library's treatment of a minus sign
        {"017", true, 15},
        {"0x10", true, 16},
        {"7 ", false, 0},
        {"", false, 0},
        {"x", false, 0},
    };
    for (const auto &c : cases) {
        unsigned long ul = kUntouched;
        unsigned long long ull = kUntouched;
        EXPECT_EQ(string_to_unsigned_long(c.text, &ul), c.ok) << c.text;
        EXPECT_EQ(string_to_unsigned_long_long(c.text, &ull), c.ok) << c.text;
        EXPECT_EQ(ul, c.ok ? c.value : kUntouched) << c.text;
        EXPECT_EQ(ull, c.ok ? c.value : kUntouched) << c.text;
    }
}

TEST(NumberParsers, NullArgumentsAreRejected) {
    long l;
    unsigned long ul;
    long long ll;
    unsigned long long ull;
    EXPECT_FALSE(string_to_long(nullptr, &l));
    EXPECT_FALSE(string_to_long("1", nullptr));
    EXPECT_FALSE(string_to_unsigned_long(nullptr, &ul));
    EXPECT_FALSE(string_to_long_long(nullptr, &ll));
    EXPECT_FALSE(string_to_unsigned_long_long("1", nullptr));
    EXPECT_FALSE(string_to_unsigned_long_long(nullptr, &ull));
    EXPECT_FALSE(string_to_u8("1", nullptr));
    EXPECT_FALSE(string_to_u16("1", nullptr));
    EXPECT_FALSE(string_to_u32("1", nullptr));
    EXPECT_FALSE(string_to_u64("1", nullptr));
    EXPECT_FALSE(string_to_sizet("1", nullptr));
    EXPECT_FALSE(bounded_string_to_int("1", 1, nullptr));
    int i;
    EXPECT_FALSE(bounded_string_to_int(nullptr, 1, &i));
}

TEST(NumberParsers, WidthWrappersCheckTheirRange) {
    const struct {
        const char *text;
        int ok_from_width;  // smallest width (8, 16, 32, 64) that accepts it; 0 = none
        uint64_t value;
    } cases[] = {
        {"255", 8, 255},
        {"256", 16, 256},
        {"65535", 16, 65535},
        {"65536", 32, 65536},
        {"0xffffffff", 32, 0xffffffffULL},
        {"4294967296", 64, 4294967296ULL},
        {"-1", 64, UINT64_MAX},  // minus one is the 64-bit maximum before the range test
        {"0x", 0, 0},
        {"1 ", 0, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        uint8_t u8 = 0x5A;
        uint16_t u16 = 0x5A5A;
        uint32_t u32 = 0x5A5A;
        uint64_t u64 = 0x5A5A;
        size_t sz = 0x5A5A;
        auto accepts = [&](int width) { return c.ok_from_width && c.ok_from_width <= width; };
        EXPECT_EQ(string_to_u8(c.text, &u8), accepts(8));
        EXPECT_EQ(string_to_u16(c.text, &u16), accepts(16));
        EXPECT_EQ(string_to_u32(c.text, &u32), accepts(32));
        EXPECT_EQ(string_to_u64(c.text, &u64), accepts(64));
        EXPECT_EQ(string_to_sizet(c.text, &sz), accepts(64));
        EXPECT_EQ(u8, accepts(8) ? c.value : 0x5A);
        EXPECT_EQ(u16, accepts(16) ? c.value : 0x5A5A);
        EXPECT_EQ(u32, accepts(32) ? c.value : 0x5A5A);
        EXPECT_EQ(u64, accepts(64) ? c.value : 0x5A5A);
        EXPECT_EQ(sz, accepts(64) ? c.value : 0x5A5A);
    }
}

TEST(NumberParsers, BoundedStringToInt) {
    const struct {
        const char *text;
        size_t len;
        bool ok;
        int value;
    } cases[] = {
        {"123", 2, true, 12},
        {"123", 3, true, 123},
        {"123", 100, true, 123},  // the text ends before len
        {"123", SIZE_MAX, true, 123},
        {"123", 0, false, 0},
        {"2147483647", 10, true, INT_MAX},
        {"-2147483648", 11, true, INT_MIN},
        {"2147483648", 10, false, 0},
        {"-2147483649", 11, false, 0},
        {"0x7fffffff", 10, true, INT_MAX},
        {"12 ", 3, false, 0},
        {"12 ", 2, true, 12},
        {"", 5, false, 0},
    };
    for (const auto &c : cases) {
        int out = 0x5A5A;
        EXPECT_EQ(bounded_string_to_int(c.text, c.len, &out), c.ok) << c.text << " len " << c.len;
        EXPECT_EQ(out, c.ok ? c.value : 0x5A5A) << c.text << " len " << c.len;
    }
}

// Blanks and zeros can make a valid int any length; the copy is not limited to a fixed
// buffer, and a text that is not terminated is read only up to len.
TEST(NumberParsers, BoundedStringToIntLongAndUnterminatedTexts) {
    std::string padded = std::string(5000, ' ') + std::string(3000, '0') + "77";
    int out = 0;
    EXPECT_TRUE(bounded_string_to_int(padded.c_str(), padded.size(), &out));
    EXPECT_EQ(out, 077);  // a leading zero: octal
    char *raw = static_cast<char *>(malloc(4));  // "4096", no terminator
    memcpy(raw, "4096", 4);
    EXPECT_TRUE(bounded_string_to_int(raw, 4, &out));
    EXPECT_EQ(out, 4096);
    free(raw);
}

TEST(NumberWords, StringToBoolean) {
    const struct {
        const char *text;
        bool value;
    } cases[] = {{nullptr, true}, {"1", true},      {"True", true}, {"true", true},
                 {"TRUE", false}, {"yes", false},   {"on", false},  {"1 ", false},
                 {"", false},     {"True ", false}, {"0", false},   {"false", false}};
    for (const auto &c : cases)
        EXPECT_EQ(vem_string_to_boolean(c.text), c.value) << (c.text ? c.text : "NULL");
}

TEST(NumberWords, BooleanToString) {
    EXPECT_STREQ(boolean_to_string(true), "true");
    EXPECT_STREQ(boolean_to_string(false), "false");
}

TEST(NumberWords, HexCharToInt) {
    for (int c = 0; c < 256; ++c) {
        int expected = -1;
        if (c >= '0' && c <= '9')
            expected = c - '0';
        else if (c >= 'a' && c <= 'f')
            expected = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            expected = c - 'A' + 10;
        EXPECT_EQ(hex_char_to_int(static_cast<char>(c)), expected) << c;
    }
}

TEST(NumberFormat, HexStringFromUint64) {
    const std::pair<uint64_t, const char *> cases[] = {
        {255, "0x00000000000000ff"},
        {0, "0x0000000000000000"},
        {UINT64_MAX, "0xffffffffffffffff"},
        {0x0123456789ABCDEFULL, "0x0123456789abcdef"},
    };
    for (auto [value, text] : cases) {
        char *s = vem_get_hex_string_from_uint64(value);
        ASSERT_NE(s, nullptr);
        EXPECT_STREQ(s, text);
        free(s);
    }
}

std::string print_cell(int width, int64_t value, int *result) {
    FILE *f = tmpfile();
    *result = print_si_prefixed_value(f, width, value);
    std::string out(static_cast<size_t>(ftell(f)), '\0');
    rewind(f);
    EXPECT_EQ(fread(out.data(), 1, out.size(), f), out.size());
    fclose(f);
    return out;
}

TEST(NumberFormat, SiPrefixedCell) {
    const struct {
        int width;
        int64_t value;
        const char *cell;
    } cases[] = {
        {8, 999, "      999 |"},
        {8, 1000, "      1 k |"},
        {8, 1999, "      1 k |"},
        {8, -5000, "    -5000 |"},
        {8, 0, "        0 |"},
        {8, 123456789, " 123456 k |"},
        {2, 12345678, " 12345 k |"},  // the number wider than its field
        {8, INT64_MIN, " -9223372036854775808 |"},
        {8, INT64_MAX, " 9223372036854775 k |"},
    };
    for (const auto &c : cases) {
        int result = 0;
        std::string cell = print_cell(c.width, c.value, &result);
        EXPECT_EQ(cell, c.cell) << c.value;
        EXPECT_EQ(result, static_cast<int>(cell.size())) << c.value;
    }
    EXPECT_LT(print_si_prefixed_value(nullptr, 8, 1), 0);
}

}  // namespace
