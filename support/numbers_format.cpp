// Boolean words, hexadecimal digits and the two number renderings.
#include <inttypes.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "support/vem_log.h"
#include "support/vem_numbers.h"

extern "C" {

// Exactly NULL, "1", "True" and "true" are true; the comparison is case-sensitive.
VEM_API bool vem_string_to_boolean(const char *str) {
    return !str || strcmp(str, "1") == 0 || strcmp(str, "True") == 0 || strcmp(str, "true") == 0;
}

// Tests the argument's byte as stored, so a caller that put any non-zero byte there
// gets "true".
VEM_API const char *boolean_to_string(bool value) {
    unsigned char byte = 0;
    memcpy(&byte, &value, 1);
    return byte != 0 ? "true" : "false";
}

VEM_API int hex_char_to_int(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// "0x" and sixteen lower-case digits; the caller frees the text with free.
VEM_API char *vem_get_hex_string_from_uint64(uint64_t value) {
    constexpr size_t kSize = 19;
    char *text = static_cast<char *>(malloc(kSize));
    if (!text) {
        VEM_LOG(VEM_LOG_ERROR, "Failed to allocate memory for hex string");
        return nullptr;
    }
    snprintf(text, kSize, "0x%016" PRIx64, value);
    return text;
}

// One table cell. From 1000 up the value is shown in thousands (cut towards zero) with
// " k", and the field is two narrower so both kinds of cell take the same room.
VEM_API int print_si_prefixed_value(FILE *stream, int width, int64_t value) {
    if (!stream)
        return -1;
    if (value < 1000)
        return fprintf(stream, " %*lld |", width, static_cast<long long>(value));
    int narrower = width > INT_MIN + 1 ? width - 2 : width;
    return fprintf(stream, " %*lld k |", narrower, static_cast<long long>(value / 1000));
}

}  // extern "C"
