// Block magics: writing, recognising and naming the 4-byte "VEM" + letter headers.
#include <ctype.h>
#include <string.h>

#include "events/vem_data_page.h"

namespace {

constexpr char kLetters[] = {'D', 'E', 'S', 'B', 0, 'P', 'X'};  // by vem_data_block_type_t

constexpr const char *kNames[] = {
    "VEM_COUNTERS_BLOCK", "VEM_EVENTS_BLOCK", "VEM_SCHEMAS_BLOCK", "VEM_BLOB_BLOCK",
    "Unknown block",      "VEM_PAGE_BLOCK",   "VEM_CNTX_BLOCK",
};

// Types of the letters 'B' to 'X', indexed by letter - 'B'.
constexpr vem_data_block_type_t kTypeByLetter[23] = {
    VEM_BLOB_BLOCK,    VEM_UNKNOWN_BLOCK, VEM_COUNTERS_BLOCK, VEM_EVENTS_BLOCK,  // B C D E
    VEM_UNKNOWN_BLOCK, VEM_UNKNOWN_BLOCK, VEM_UNKNOWN_BLOCK,  VEM_UNKNOWN_BLOCK, // F G H I
    VEM_UNKNOWN_BLOCK, VEM_UNKNOWN_BLOCK, VEM_UNKNOWN_BLOCK,  VEM_UNKNOWN_BLOCK, // J K L M
    VEM_UNKNOWN_BLOCK, VEM_UNKNOWN_BLOCK, VEM_PAGE_BLOCK,     VEM_UNKNOWN_BLOCK, // N O P Q
    VEM_UNKNOWN_BLOCK, VEM_SCHEMAS_BLOCK, VEM_UNKNOWN_BLOCK,  VEM_UNKNOWN_BLOCK, // R S T U
    VEM_UNKNOWN_BLOCK, VEM_UNKNOWN_BLOCK, VEM_CNTX_BLOCK,                        // V W X
};

}  // namespace

extern "C" {

VEM_API vem_data_block_type_t vem_data_block_get_type(const vem_magic_value_t *magic) {
    // Letters below 'B' wrap around to large values and fall outside the table.
    uint8_t index = static_cast<uint8_t>(static_cast<uint8_t>(magic->bytes[3]) - 'B');
    return index < sizeof kTypeByLetter / sizeof kTypeByLetter[0] ? kTypeByLetter[index]
                                                                  : VEM_UNKNOWN_BLOCK;
}

VEM_API void vem_magic_value_fill(vem_magic_value_t *magic, char letter) {
    magic->bytes[0] = 'V';
    magic->bytes[1] = 'E';
    magic->bytes[2] = 'M';
    magic->bytes[3] = letter;
}

VEM_API void vem_data_block_set_type(vem_magic_value_t *magic, vem_data_block_type_t type) {
    unsigned t = static_cast<unsigned>(type);
    if (t >= sizeof kLetters || kLetters[t] == 0)
        return;
    vem_magic_value_fill(magic, kLetters[t]);
}

VEM_API const char *vem_data_block_type_to_string(vem_data_block_type_t type) {
    unsigned t = static_cast<unsigned>(type);
    return t < sizeof kNames / sizeof kNames[0] ? kNames[t] : kNames[VEM_UNKNOWN_BLOCK];
}

VEM_API void vem_magic_value_fill_lower(vem_magic_value_t *magic, char letter) {
    vem_magic_value_fill(magic, letter);
    for (char &c : magic->bytes)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
}

VEM_API void vem_magic_value_copy(vem_magic_value_t *dst, const vem_magic_value_t *src) {
    memcpy(dst->bytes, src->bytes, sizeof dst->bytes);
}

VEM_API bool vem_magic_value_match_type(const vem_magic_value_t *magic, char letter) {
    return magic->bytes[0] == 'V' && magic->bytes[1] == 'E' && magic->bytes[2] == 'M' &&
           magic->bytes[3] == letter;
}

VEM_API bool vem_magic_value_match(const vem_magic_value_t *a, const vem_magic_value_t *b) {
    return strncmp(a->bytes, b->bytes, 3) == 0 && a->bytes[3] == b->bytes[3];
}

}  // extern "C"
