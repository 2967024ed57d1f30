/* Data pages as the host hands them over: a 720-byte header, then data blocks back to
 * back, each starting with a 4-byte magic "VEM" + type letter. Fields are packed and in
 * the machine's byte order; readers load them with memcpy, never through casts. */
#ifndef VEM_DATA_PAGE_H
#define VEM_DATA_PAGE_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "support/vem_export.h"

VEM_BEGIN_DECLS

#define VEM_DATA_PAGE_HEADER_SIZE 720
#define VEM_DATA_BLOCK_HEADER_SIZE 16

typedef struct vem_data_page {
    uint8_t version;       /* compatible only when 1 */
    uint8_t revision;      /* compatible only when >= 7 */
    uint8_t reserved_2[6];
    uint64_t total_size;   /* whole page, header included */
    uint64_t filled_size;  /* bytes filled so far, header included */
    uint8_t reserved_24[40];
    char source[64];       /* NUL-terminated */
    char tag[16];          /* NUL-terminated */
    uint8_t reserved_144[576];
} vem_data_page_t;

VEM_STATIC_ASSERT(offsetof(vem_data_page_t, version) == 0, "version");
VEM_STATIC_ASSERT(offsetof(vem_data_page_t, revision) == 1, "revision");
VEM_STATIC_ASSERT(offsetof(vem_data_page_t, total_size) == 8, "total_size");
VEM_STATIC_ASSERT(offsetof(vem_data_page_t, filled_size) == 16, "filled_size");
VEM_STATIC_ASSERT(offsetof(vem_data_page_t, source) == 64, "source");
VEM_STATIC_ASSERT(offsetof(vem_data_page_t, tag) == 128, "tag");
VEM_STATIC_ASSERT(sizeof(vem_data_page_t) == VEM_DATA_PAGE_HEADER_SIZE, "vem_data_page_t size");

/* Four bytes, no terminator: 'V', 'E', 'M', type letter. */
typedef struct vem_magic_value {
    char bytes[4];
} vem_magic_value_t;
VEM_STATIC_ASSERT(sizeof(vem_magic_value_t) == 4, "vem_magic_value_t size");

/* Block header, 16 bytes; multi-byte fields may be unaligned (type_index at 13). */
typedef struct __attribute__((packed)) vem_data_block_header {
    vem_magic_value_t magic;
    uint16_t length;        /* schemas block: whole block length, header included */
    uint8_t reserved_6[6];
    uint8_t schema_index;   /* events block */
    uint16_t type_index;    /* events block */
    uint8_t record_count;   /* events block */
} vem_data_block_header_t;

VEM_STATIC_ASSERT(offsetof(vem_data_block_header_t, magic) == 0, "magic");
VEM_STATIC_ASSERT(offsetof(vem_data_block_header_t, length) == 4, "length");
VEM_STATIC_ASSERT(offsetof(vem_data_block_header_t, schema_index) == 12, "schema_index");
VEM_STATIC_ASSERT(offsetof(vem_data_block_header_t, type_index) == 13, "type_index");
VEM_STATIC_ASSERT(offsetof(vem_data_block_header_t, record_count) == 15, "record_count");
VEM_STATIC_ASSERT(sizeof(vem_data_block_header_t) == VEM_DATA_BLOCK_HEADER_SIZE, "block header size");

typedef enum vem_data_block_type {
    VEM_COUNTERS_BLOCK = 0, /* 'D' */
    VEM_EVENTS_BLOCK = 1,   /* 'E' */
    VEM_SCHEMAS_BLOCK = 2,  /* 'S' */
    VEM_BLOB_BLOCK = 3,     /* 'B' */
    VEM_UNKNOWN_BLOCK = 4,  /* no letter */
    VEM_PAGE_BLOCK = 5,     /* 'P' */
    VEM_CNTX_BLOCK = 6      /* 'X' */
} vem_data_block_type_t;
VEM_STATIC_ASSERT(sizeof(vem_data_block_type_t) == 4, "vem_data_block_type_t size");

/* Type from byte 3 only; letters outside the table give VEM_UNKNOWN_BLOCK. */
VEM_API vem_data_block_type_t vem_data_block_get_type(const vem_magic_value_t *magic);
/* Writes "VEM" + letter; writes nothing for VEM_UNKNOWN_BLOCK or values above 6. */
VEM_API void vem_data_block_set_type(vem_magic_value_t *magic, vem_data_block_type_t type);
/* Static name; "Unknown block" for VEM_UNKNOWN_BLOCK and values above 6. */
VEM_API const char *vem_data_block_type_to_string(vem_data_block_type_t type);
VEM_API void vem_magic_value_fill(vem_magic_value_t *magic, char letter);
VEM_API void vem_magic_value_fill_lower(vem_magic_value_t *magic, char letter);
VEM_API void vem_magic_value_copy(vem_magic_value_t *dst, const vem_magic_value_t *src);
VEM_API bool vem_magic_value_match_type(const vem_magic_value_t *magic, char letter);
VEM_API bool vem_magic_value_match(const vem_magic_value_t *a, const vem_magic_value_t *b);

VEM_END_DECLS

#endif
