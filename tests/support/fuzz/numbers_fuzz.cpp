// Every number parser on the same text; the parsers must agree with one another and
// with the C library, and the bounded parser must stay inside an unterminated buffer.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/vem_numbers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    const char *s = text.c_str();  // up to the first zero byte

    long l = 0;
    long long ll = 0;
    unsigned long ul = 0;
    unsigned long long ull = 0;
    bool ok_l = string_to_long(s, &l), ok_ll = string_to_long_long(s, &ll);
    bool ok_ul = string_to_unsigned_long(s, &ul), ok_ull = string_to_unsigned_long_long(s, &ull);
    if (ok_l != ok_ll || (ok_l && l != ll) || ok_ul != ok_ull || (ok_ul && ul != ull))
        abort();
    if (ok_l) {  // the whole text converted: the C library agrees
        char *end = nullptr;
        if (strtol(s, &end, 0) != l || *end != '\0')
            abort();
    }

    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    uint64_t u64 = 0;
    size_t sz = 0;
    bool ok8 = string_to_u8(s, &u8), ok16 = string_to_u16(s, &u16), ok32 = string_to_u32(s, &u32);
    bool ok64 = string_to_u64(s, &u64), oksz = string_to_sizet(s, &sz);
    if (ok64 != ok_ull || oksz != ok64 || (ok64 && (u64 != ull || sz != ull)))
        abort();
    if (ok8 != (ok64 && u64 <= UINT8_MAX) || ok16 != (ok64 && u64 <= UINT16_MAX) ||
        ok32 != (ok64 && u64 <= UINT32_MAX))
        abort();
    if ((ok8 && u8 != u64) || (ok16 && u16 != u64) || (ok32 && u32 != u64))
        abort();

    // The raw bytes in a buffer of exactly their size: no terminator to lean on.
    char *raw = static_cast<char *>(malloc(size ? size : 1));
    if (raw) {
        if (size)
            memcpy(raw, data, size);
        int out = 0x5A5A;
        bool ok = bounded_string_to_int(raw, size, &out);
        if (!ok && out != 0x5A5A)
            abort();
        if (ok && size && memchr(raw, '\0', size) == nullptr && ok_l && l != out)
            abort();
        free(raw);
    }

    (void)vem_string_to_boolean(s);
    if (size)
        (void)hex_char_to_int(static_cast<char>(data[0]));
    char *hex = vem_get_hex_string_from_uint64(ull);
    if (hex && strlen(hex) != 18)
        abort();
    free(hex);
    return 0;
}
