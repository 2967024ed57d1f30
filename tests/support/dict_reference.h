// An independent model of the host's dictionary rules, used to check the library's table
// bucket for bucket and to build tables by hand the way a host does.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/vem_dict.h"

namespace dictref {

enum State : int { kLive = 0, kDeleted = 1, kEmpty = 2 };

// Bytes are signed chars, sign-extended: 0xE9 adds -23.
inline uint32_t hash(const std::string &key) {
    if (key.empty())
        return 0;
    uint32_t h = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(key[0])));
    for (size_t i = 1; i < key.size(); ++i)
        h = h * 31U + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(key[i])));
    return h;
}

struct Table {
    uint32_t n = 0, size = 0, occupied = 0, upper = 0;
    std::vector<int> state;
    std::vector<std::string> keys;
    std::vector<std::optional<std::string>> values;

    void resize(uint64_t requested) {
        uint32_t nn = 4;
        while (nn < requested)
            nn <<= 1;
        uint32_t up = static_cast<uint32_t>(nn * 0.77 + 0.5);
        if (size >= up)
            return;
        std::vector<int> fresh(nn, kEmpty);
        std::vector<int> old = state;
        if (nn > n) {
            keys.resize(nn);
            values.resize(nn);
        }
        const uint32_t mask = nn - 1;
        for (uint32_t j = 0; j < n; ++j) {
            if (old[j] != kLive)
                continue;
            std::string key = keys[j];
            std::optional<std::string> value = values[j];
            old[j] = kDeleted;
            for (;;) {
                uint32_t i = hash(key) & mask;
                for (uint32_t step = 1; fresh[i] != kEmpty; ++step)
                    i = (i + step) & mask;
                fresh[i] = kLive;
                if (i < n && old[i] == kLive) {
                    std::swap(key, keys[i]);
                    std::swap(value, values[i]);
                    old[i] = kDeleted;
                } else {
                    keys[i] = key;
                    values[i] = value;
                    break;
                }
            }
        }
        state = fresh;
        n = nn;
        occupied = size;
        upper = up;
    }

    void insert(const std::string &key, std::optional<std::string> value) {
        if (occupied >= upper)
            resize(n > 2ULL * size ? n - 1ULL : n + 1ULL);
        const uint32_t mask = n - 1, home = hash(key) & mask;
        uint32_t x = home;
        if (state[home] != kEmpty) {
            int64_t candidate = -1;
            uint32_t i = home;
            for (uint32_t step = 1;; ++step) {
                if (state[i] == kEmpty) {
                    x = candidate >= 0 ? static_cast<uint32_t>(candidate) : i;
                    break;
                }
                if (state[i] == kDeleted)
                    candidate = i;
                else if (keys[i] == key) {
                    x = i;
                    break;
                }
                i = (i + step) & mask;
                if (i == home) {
                    x = static_cast<uint32_t>(candidate);
                    break;
                }
            }
        }
        if (state[x] == kEmpty) {
            keys[x] = key;
            ++size;
            ++occupied;
        } else if (state[x] == kDeleted) {
            keys[x] = key;
            ++size;
        }
        state[x] = kLive;
        values[x] = std::move(value);
    }

    // What a host's single-key removal does: the bucket becomes deleted.
    void erase(const std::string &key) {
        for (uint32_t i = 0; i < n; ++i)
            if (state[i] == kLive && keys[i] == key) {
                state[i] = kDeleted;
                --size;
                return;
            }
    }

    // A heap table laid out as the host lays it out; the library may extend and free it.
    // Keys and values of buckets that are not live hold a poison pointer: reading one
    // crashes.
    vem_dict_t materialize() const {
        auto *t = static_cast<vem_dict_table_t *>(calloc(1, sizeof(vem_dict_table_t)));
        t->bucket_count = n;
        t->key_count = size;
        t->occupied_count = occupied;
        t->grow_threshold = upper;
        if (n) {
            size_t words = n < 16 ? 1 : n / 16;
            t->flags = static_cast<uint32_t *>(malloc(words * 4));
            memset(t->flags, 0xAA, words * 4);
            t->keys = static_cast<char **>(malloc(n * sizeof(char *)));
            t->values = static_cast<char **>(malloc(n * sizeof(char *)));
            for (uint32_t i = 0; i < n; ++i) {
                t->flags[i / 16] &= ~(3U << (2 * (i % 16)));
                t->flags[i / 16] |= static_cast<uint32_t>(state[i]) << (2 * (i % 16));
                char *poison = reinterpret_cast<char *>(uintptr_t{8});
                t->keys[i] = state[i] == kLive ? strdup(keys[i].c_str()) : poison;
                t->values[i] = state[i] == kLive && values[i] ? strdup(values[i]->c_str())
                               : state[i] == kLive          ? nullptr
                                                            : poison;
            }
        }
        auto *cell = static_cast<vem_dict_cell_t *>(malloc(sizeof(vem_dict_cell_t)));
        cell->table = t;
        return cell;
    }
};

inline int state_of(const vem_dict_table_t *t, uint32_t i) {
    return static_cast<int>((t->flags[i / 16] >> (2 * (i % 16))) & 3U);
}

}  // namespace dictref
