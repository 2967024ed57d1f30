// Strict text-to-integer parsers. The whole text must be one number in base 0 (0x hex,
// leading 0 octal, else decimal); on any rejection *out is left as it was.
#include <errno.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "support/vem_numbers.h"

namespace {

// One rule for the four C library conversions: overflow (ERANGE at the type's extreme),
// an error with a zero result, nothing converted, or anything after the number rejects.
template <typename T, typename Convert>
bool parse_whole(const char *str, T *out, Convert convert, T largest, T smallest) {
    if (!str || !out)
        return false;
    errno = 0;
    char *end = nullptr;
    T value = convert(str, &end, 0);
    if (errno == ERANGE && (value == largest || value == smallest))
        return false;
    if (errno != 0 && value == 0)
        return false;
    if (end == str || *end != '\0')
        return false;
    *out = value;
    return true;
}

template <typename T>
bool parse_width(const char *str, T *out, unsigned long long largest) {
    unsigned long long value = 0;
    if (!out || !string_to_unsigned_long_long(str, &value) || value > largest)
        return false;
    *out = static_cast<T>(value);
    return true;
}

// Texts this short are copied on the stack; longer ones (leading blanks or zeros can
// make a valid int any length) go to the heap.
constexpr size_t kStackCopy = 64;

}  // namespace

extern "C" {

VEM_API bool string_to_long(const char *str, long *out) {
    return parse_whole<long>(str, out, strtol, LONG_MAX, LONG_MIN);
}

VEM_API bool string_to_unsigned_long(const char *str, unsigned long *out) {
    return parse_whole<unsigned long>(str, out, strtoul, ULONG_MAX, ULONG_MAX);
}

VEM_API bool string_to_long_long(const char *str, long long *out) {
    return parse_whole<long long>(str, out, strtoll, LLONG_MAX, LLONG_MIN);
}

VEM_API bool string_to_unsigned_long_long(const char *str, unsigned long long *out) {
    return parse_whole<unsigned long long>(str, out, strtoull, ULLONG_MAX, ULLONG_MAX);
}

VEM_API bool string_to_sizet(const char *str, size_t *out) {
    return parse_width(str, out, SIZE_MAX);
}

VEM_API bool string_to_u64(const char *str, uint64_t *out) {
    return parse_width(str, out, UINT64_MAX);
}

VEM_API bool string_to_u32(const char *str, uint32_t *out) {
    return parse_width(str, out, UINT32_MAX);
}

VEM_API bool string_to_u16(const char *str, uint16_t *out) {
    return parse_width(str, out, UINT16_MAX);
}

VEM_API bool string_to_u8(const char *str, uint8_t *out) {
    return parse_width(str, out, UINT8_MAX);
}

// Copies at most len characters (fewer when the text ends first) into a terminated
// temporary sized by what was found, not by len, so len may be as large as SIZE_MAX.
VEM_API bool bounded_string_to_int(const char *str, size_t len, int *out) {
    if (!str || !out)
        return false;
    const void *nul = memchr(str, '\0', len);
    size_t n = nul ? static_cast<size_t>(static_cast<const char *>(nul) - str) : len;
    char small[kStackCopy];
    char *copy = small;
    if (n >= sizeof small) {
        copy = static_cast<char *>(malloc(n + 1));
        if (!copy)
            return false;
    }
    memcpy(copy, str, n);
    copy[n] = '\0';
    long value = 0;
    bool ok = string_to_long(copy, &value) && value >= INT32_MIN && value <= INT32_MAX;
    if (copy != small)
        free(copy);
    if (!ok)
        return false;
    *out = static_cast<int>(value);
    return true;
}

}  // extern "C"
