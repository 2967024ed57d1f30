// GUID text to 16 bytes.
#include <stdint.h>

#include "support/vem_numbers.h"
#include "support/vem_strings.h"

extern "C" {

// Dashes are skipped wherever they stand; digit pairs fill the bytes in text order (no
// field-wise swapping). A pair that would make a seventeenth byte fails; a lone digit
// at the end is ignored. On failure the bytes stored so far stay in guid.
VEM_API bool string_to_guid(const char *str, uint8_t *guid) {
    if (!str || *str == '\0' || !guid)
        return false;
    size_t stored = 0;
    int high = -1;
    for (const char *p = str; *p; ++p) {
        if (*p == '-')
            continue;
        int digit = hex_char_to_int(*p);
        if (digit < 0)
            return false;
        if (high < 0) {
            high = digit;
            continue;
        }
        if (stored == 16)
            return false;
        guid[stored++] = static_cast<uint8_t>(high << 4 | digit);
        high = -1;
    }
    return stored == 16;
}

}  // extern "C"
