// GUID parsing and detection, and the string helpers that scan their input, on
// arbitrary text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/vem_strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    const char *s = text.c_str();
    size_t len = strlen(s);

    uint8_t guid[17];
    memset(guid, 0xEE, sizeof guid);
    bool ok = string_to_guid(s, guid);
    if (guid[16] != 0xEE)  // a seventeenth byte is never stored
        abort();
    if (ok) {  // 32 or 33 digits besides dashes, nothing else
        size_t digits = 0;
        for (size_t i = 0; i < len; ++i)
            if (s[i] != '-')
                ++digits;
        if (digits != 32 && digits != 33)
            abort();
    }
    (void)vem_string_contains_guid(s);

    std::string copy = text;
    char *trimmed = trim_white_space(copy.data());
    if (trimmed < copy.data() || trimmed > copy.data() + len)
        abort();

    size_t cap = size ? data[0] % 24 : 0;
    char dst[24];
    memset(dst, '#', sizeof dst);
    if (cap) {
        strncpy_visible_ascii(dst, s, cap);
        if (memchr(dst, '\0', cap) == nullptr)  // terminated within cap bytes
            abort();
        for (size_t i = 0; i < cap && dst[i]; ++i)
            if (dst[i] < 32 || dst[i] > 126)
                abort();
    }

    size_t half = len / 2, pos = 0;
    std::string needle(s + half, len - half > 3 ? 3 : len - half);
    if (len && !find_ith_substr(s, needle.c_str(), 0, &pos))
        abort();
    if (len && (pos > half || strncmp(s + pos, needle.c_str(), needle.size()) != 0))
        abort();

    free(get_allocated_basename(s));
    if (!vem_string_ends_with(s, s + half))
        abort();
    char bounded[8];
    size_t n = vem_strncpy(bounded, sizeof bounded, s, len);
    if (n != (len < sizeof bounded ? len : sizeof bounded - 1) || bounded[n] != '\0')
        abort();
    return 0;
}
