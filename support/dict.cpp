// String dictionary: an open-addressing hash table whose record, hash, probe sequence
// and 2-bit bucket states are shared with the host, so that a table either side built
// can be extended, copied, walked and freed by the other, bucket for bucket.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "support/vem_dict.h"
#include "support/vem_log.h"

namespace {

// Bucket i's state lies in word i / 16, in the two bits from bit 2 * (i % 16):
// the upper bit means empty, the lower one deleted; both clear means live.
constexpr uint32_t kEmptyBit = 2;
constexpr uint32_t kDeletedBit = 1;

inline uint32_t state(const uint32_t *flags, uint32_t i) {
    return (flags[i >> 4] >> ((i & 15U) << 1)) & 3U;
}
inline bool is_empty(const uint32_t *flags, uint32_t i) { return state(flags, i) & kEmptyBit; }
inline bool is_deleted(const uint32_t *flags, uint32_t i) { return state(flags, i) & kDeletedBit; }
inline bool is_live(const uint32_t *flags, uint32_t i) { return state(flags, i) == 0; }
inline void mark_live(uint32_t *flags, uint32_t i) { flags[i >> 4] &= ~(3U << ((i & 15U) << 1)); }
inline void clear_empty(uint32_t *flags, uint32_t i) {
    flags[i >> 4] &= ~(kEmptyBit << ((i & 15U) << 1));
}
inline void mark_deleted(uint32_t *flags, uint32_t i) {
    flags[i >> 4] |= kDeletedBit << ((i & 15U) << 1);
}

// Words of a flag array for count buckets: at least one, so a 4-bucket table has a word.
inline size_t flag_words(uint32_t count) { return count < 16 ? 1 : count >> 4; }

// h = h * 31 + c over the key's bytes, each taken as a signed char (0x80..0xFF add
// negative amounts), starting from 0, so the first byte is the starting value and the
// empty key hashes to 0. Four bytes are folded per step (h * 31^4 plus their own
// weighted sum), which shortens the chain of dependent multiplications.
inline uint32_t hash_key(const char *key) {
    const signed char *p = reinterpret_cast<const signed char *>(key);
    uint32_t h = 0;
    for (;; p += 4) {
        uint32_t c0 = static_cast<uint32_t>(static_cast<int32_t>(p[0]));
        if (!c0)
            return h;
        uint32_t c1 = static_cast<uint32_t>(static_cast<int32_t>(p[1]));
        if (!c1)
            return h * 31U + c0;
        uint32_t c2 = static_cast<uint32_t>(static_cast<int32_t>(p[2]));
        if (!c2)
            return h * 961U + c0 * 31U + c1;
        uint32_t c3 = static_cast<uint32_t>(static_cast<int32_t>(p[3]));
        if (!c3)
            return h * 29791U + c0 * 961U + c1 * 31U + c2;
        h = h * 923521U + (c0 * 29791U + c1 * 961U + c2 * 31U + c3);
    }
}

constexpr uint32_t kMinBuckets = 4;
constexpr uint64_t kMaxBuckets = 1ULL << 31;

inline uint32_t threshold_for(uint32_t count) {
    return static_cast<uint32_t>(count * 0.77 + 0.5);
}

// Rebuilds the table in place for the requested bucket count: the count rounded up to a
// power of two (at least 4); the arrays are enlarged first, then every live entry is
// moved to its bucket under the new count, displacing entries that have not moved yet.
bool resize(vem_dict_table_t *t, uint64_t requested) {
    uint64_t wanted = kMinBuckets;
    while (wanted < requested)
        wanted <<= 1;
    if (wanted > kMaxBuckets)
        return false;
    uint32_t new_count = static_cast<uint32_t>(wanted);
    if (new_count < t->bucket_count)  // a table never shrinks
        new_count = t->bucket_count;
    uint32_t new_threshold = threshold_for(new_count);
    if (t->key_count >= new_threshold)
        return true;

    size_t words = flag_words(new_count);
    uint32_t *new_flags = static_cast<uint32_t *>(malloc(words * sizeof(uint32_t)));
    if (!new_flags)
        return false;
    memset(new_flags, 0xAA, words * sizeof(uint32_t));

    if (new_count > t->bucket_count) {
        char **keys = static_cast<char **>(realloc(t->keys, new_count * sizeof(char *)));
        if (!keys) {
            free(new_flags);
            return false;
        }
        t->keys = keys;
        char **values = static_cast<char **>(realloc(t->values, new_count * sizeof(char *)));
        if (!values) {
            free(new_flags);  // keys keeps its spare room; the table stays valid
            return false;
        }
        t->values = values;
    }

    const uint32_t old_count = t->bucket_count;
    const uint32_t mask = new_count - 1;
    uint32_t *old_flags = t->flags;
    for (uint32_t j = 0; j < old_count; ++j) {
        if (!is_live(old_flags, j))
            continue;
        char *key = t->keys[j];
        char *value = t->values[j];
        mark_deleted(old_flags, j);
        for (;;) {
            uint32_t i = hash_key(key) & mask;
            for (uint32_t step = 1; !is_empty(new_flags, i); ++step)
                i = (i + step) & mask;
            clear_empty(new_flags, i);
            if (i < old_count && is_live(old_flags, i)) {
                char *k = t->keys[i];
                char *v = t->values[i];
                t->keys[i] = key;
                t->values[i] = value;
                key = k;
                value = v;
                mark_deleted(old_flags, i);
            } else {
                t->keys[i] = key;
                t->values[i] = value;
                break;
            }
        }
    }
    free(old_flags);
    t->flags = new_flags;
    t->bucket_count = new_count;
    t->occupied_count = t->key_count;
    t->grow_threshold = new_threshold;
    return true;
}

// The bucket that key goes to: its live bucket, else the last deleted bucket seen before
// the first empty one, else that empty one. bucket_count when there is none, which only
// a table that keeps no empty bucket (not one built by these rules) can produce.
uint32_t find_target(const vem_dict_table_t *t, const char *key) {
    const uint32_t n = t->bucket_count;
    const uint32_t mask = n - 1;
    const uint32_t home = hash_key(key) & mask;
    if (is_empty(t->flags, home))
        return home;
    uint32_t candidate = n;
    uint32_t i = home;
    for (uint32_t step = 1;; ++step) {
        if (is_empty(t->flags, i))
            return candidate != n ? candidate : i;
        if (is_deleted(t->flags, i))
            candidate = i;
        else if (strcmp(t->keys[i], key) == 0)
            return i;
        i = (i + step) & mask;
        if (i == home)
            return candidate;
    }
}

}  // namespace

extern "C" {

VEM_API vem_dict_t vem_dict_create(void) {
    vem_dict_t dict = static_cast<vem_dict_t>(malloc(sizeof *dict));
    if (!dict)
        return nullptr;
    dict->table = static_cast<vem_dict_table_t *>(calloc(1, sizeof(vem_dict_table_t)));
    if (!dict->table) {
        free(dict);
        return nullptr;
    }
    return dict;
}

VEM_API bool vem_dict_add(vem_dict_t dict, const char *key, const char *value) {
    if (!dict || !dict->table || !key)
        return false;
    vem_dict_table_t *t = dict->table;
    char *key_copy = strdup(key);
    if (!key_copy)
        return false;
    char *value_copy = nullptr;
    if (value) {
        value_copy = strdup(value);
        if (!value_copy) {
            free(key_copy);
            return false;
        }
    }

    // The size test comes before the search, so re-adding a present key can grow too.
    if (t->occupied_count >= t->grow_threshold) {
        bool ok = t->bucket_count > 2ULL * t->key_count
                      ? resize(t, static_cast<uint64_t>(t->bucket_count) - 1)  // drop deleted
                      : resize(t, static_cast<uint64_t>(t->bucket_count) + 1);  // double
        if (!ok) {
            free(key_copy);
            free(value_copy);
            return false;
        }
    }
    if (t->bucket_count == 0) {  // a host table that never got buckets
        free(key_copy);
        free(value_copy);
        return false;
    }

    uint32_t x = find_target(t, key);
    if (x == t->bucket_count) {
        free(key_copy);
        free(value_copy);
        return false;
    }
    if (is_empty(t->flags, x)) {
        t->keys[x] = key_copy;
        mark_live(t->flags, x);
        ++t->key_count;
        ++t->occupied_count;
    } else if (is_deleted(t->flags, x)) {
        t->keys[x] = key_copy;
        mark_live(t->flags, x);
        ++t->key_count;
    } else {
        free(key_copy);  // the key first stored stays
        free(t->values[x]);
    }
    t->values[x] = value_copy;
    return true;
}

VEM_API const char *vem_dict_get(vem_dict_t dict, const char *key) {
    if (!dict || !key)
        return nullptr;
    const vem_dict_table_t *t = dict->table;
    if (!t || t->bucket_count == 0)
        return nullptr;
    const uint32_t mask = t->bucket_count - 1;
    const uint32_t home = hash_key(key) & mask;
    uint32_t i = home;
    for (uint32_t step = 1;; ++step) {
        uint32_t s = state(t->flags, i);
        if (s & kEmptyBit)
            return nullptr;
        if (s == 0 && strcmp(t->keys[i], key) == 0)
            return t->values[i];
        i = (i + step) & mask;
        if (i == home)
            return nullptr;
    }
}

VEM_API void vem_dict_delete(vem_dict_t dict) {
    if (!dict)
        return;
    vem_dict_table_t *t = dict->table;
    if (t) {
        for (uint32_t i = 0; i < t->bucket_count; ++i) {
            if (is_live(t->flags, i)) {
                free(t->keys[i]);
                free(t->values[i]);
            }
        }
        free(t->keys);
        free(t->flags);
        free(t->values);
        free(t);
    }
    free(dict);
}

VEM_API vem_dict_t vem_dict_dup(vem_dict_t dict) {
    if (!dict)
        return nullptr;
    vem_dict_t copy = vem_dict_create();
    if (!copy)
        return nullptr;
    const vem_dict_table_t *t = dict->table;
    for (uint32_t i = 0; t && i < t->bucket_count; ++i) {
        if (is_live(t->flags, i) && !vem_dict_add(copy, t->keys[i], t->values[i])) {
            vem_dict_delete(copy);
            return nullptr;
        }
    }
    return copy;
}

// The table record is fetched again after every callback, so a callback that adds keys
// (and may resize the table) leaves the walk reading valid arrays; entries may then be
// seen twice or not at all.
VEM_API bool vem_dict_enum(vem_dict_t dict, vem_dict_enum_cb callback, void *user) {
    if (!dict)
        return true;
    if (!callback)
        return false;
    for (uint32_t i = 0;; ++i) {
        const vem_dict_table_t *t = dict->table;
        if (!t || i >= t->bucket_count)
            return true;
        if (is_live(t->flags, i) && !callback(t->keys[i], t->values[i], user))
            return false;
    }
}

VEM_API void vem_dict_dump(vem_dict_t dict, const char *name) {
    if (!dict)
        return;
    VEM_LOG(VEM_LOG_DEBUG, "%s map values: ", name ? name : "(null)");
    const vem_dict_table_t *t = dict->table;
    for (uint32_t i = 0; t && i < t->bucket_count; ++i) {
        if (is_live(t->flags, i)) {
            const char *value = t->values[i];
            VEM_LOG(VEM_LOG_DEBUG, "key=%s  val=%s", t->keys[i], value ? value : "(null)");
        }
    }
}

}  // extern "C"
