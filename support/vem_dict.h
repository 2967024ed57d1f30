/* String dictionary. Its table layout, hash, probe sequence and bucket-state encoding
 * are shared with the host, byte for byte: either side can extend, copy, enumerate
 * and free a table the other built. */
#ifndef VEM_DICT_H
#define VEM_DICT_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "support/vem_export.h"

VEM_BEGIN_DECLS

typedef struct vem_dict_table {
    uint32_t bucket_count;   /* 0 in a fresh table, else a power of two >= 4 */
    uint32_t key_count;      /* live entries */
    uint32_t occupied_count; /* live plus deleted buckets */
    uint32_t grow_threshold; /* occupied_count at which the next insertion resizes */
    uint32_t *flags;         /* 2 bits per bucket: 2 empty, 1 deleted, 0 live */
    char **keys;
    char **values;
} vem_dict_table_t;

VEM_STATIC_ASSERT(offsetof(vem_dict_table_t, bucket_count) == 0, "bucket_count");
VEM_STATIC_ASSERT(offsetof(vem_dict_table_t, key_count) == 4, "key_count");
VEM_STATIC_ASSERT(offsetof(vem_dict_table_t, occupied_count) == 8, "occupied_count");
VEM_STATIC_ASSERT(offsetof(vem_dict_table_t, grow_threshold) == 12, "grow_threshold");
VEM_STATIC_ASSERT(offsetof(vem_dict_table_t, flags) == 16, "flags");
VEM_STATIC_ASSERT(offsetof(vem_dict_table_t, keys) == 24, "keys");
VEM_STATIC_ASSERT(offsetof(vem_dict_table_t, values) == 32, "values");
VEM_STATIC_ASSERT(sizeof(vem_dict_table_t) == 40, "vem_dict_table_t size");

/* The handle: a heap cell holding the table pointer; the cell never changes. */
typedef struct vem_dict_cell {
    vem_dict_table_t *table;
} vem_dict_cell_t;
VEM_STATIC_ASSERT(sizeof(vem_dict_cell_t) == 8, "vem_dict_cell_t size");

typedef vem_dict_cell_t *vem_dict_t;

/* Receives the dictionary's own strings (value may be NULL); false stops the walk. */
typedef bool (*vem_dict_enum_cb)(const char *key, const char *value, void *user);

/* A new empty dictionary, or NULL when memory runs out. */
VEM_API vem_dict_t vem_dict_create(void);
/* Stores copies of key and value (value may be NULL); a present key gets the new
 * value. False for a NULL handle or key, or when memory runs out (table unchanged). */
VEM_API bool vem_dict_add(vem_dict_t dict, const char *key, const char *value);
/* The dictionary's own value string; NULL for a NULL handle or key, an absent key or
 * a NULL value. Valid until the key's value is replaced or the dictionary deleted. */
VEM_API const char *vem_dict_get(vem_dict_t dict, const char *key);
/* Frees the dictionary and all its strings; NULL does nothing. */
VEM_API void vem_dict_delete(vem_dict_t dict);
/* A deep copy, or NULL for a NULL handle or when memory runs out. */
VEM_API vem_dict_t vem_dict_dup(vem_dict_t dict);
/* Walks live buckets in ascending order. True when the walk ran to its end (or the
 * handle is NULL); false when the callback stopped it. */
VEM_API bool vem_dict_enum(vem_dict_t dict, vem_dict_enum_cb callback, void *user);
/* Logs "<name> map values: " and one "key=..  val=.." line per entry at debug level. */
VEM_API void vem_dict_dump(vem_dict_t dict, const char *name);

VEM_END_DECLS

#endif
