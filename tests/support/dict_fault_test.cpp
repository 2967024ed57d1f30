// Allocation failures in every dictionary operation: each failing pass gives the
// documented result, leaves the table as it was and leaks nothing (checked through the
// allocator's statistics here, and by valgrind in a second run of this program).
#include <gtest/gtest.h>
#include <malloc.h>

#include <string>
#include <utility>
#include <vector>

#include "fault_inject.h"
#include "support/dict_reference.h"
#include "support/vem_dict.h"

namespace {

struct Snapshot {
    uint32_t buckets, keys, occupied, threshold;
    std::vector<int> states;
    std::vector<std::pair<std::string, std::string>> entries;  // by bucket; NULL as "<NULL>"
    bool operator==(const Snapshot &) const = default;
};

Snapshot snapshot(vem_dict_t d) {
    const vem_dict_table_t *t = d->table;
    Snapshot s{t->bucket_count, t->key_count, t->occupied_count, t->grow_threshold, {}, {}};
    for (uint32_t i = 0; i < t->bucket_count; ++i) {
        s.states.push_back(dictref::state_of(t, i));
        if (s.states.back() == dictref::kLive)
            s.entries.emplace_back(t->keys[i], t->values[i] ? t->values[i] : "<NULL>");
    }
    return s;
}

// Exact only with the thread cache off (its chunks count as in use): the test runs with
// GLIBC_TUNABLES=glibc.malloc.tcache_count=0.
size_t heap_in_use() { return mallinfo2().uordblks; }

vem_dict_t filled(int n) {
    vem_dict_t d = vem_dict_create();
    for (int i = 0; i < n; ++i)
        EXPECT_TRUE(vem_dict_add(d, ("key" + std::to_string(i)).c_str(), "value"));
    return d;
}

TEST(DictAllocationFailure, CreateReturnsNullAndLeaksNothing) {
    size_t before = heap_in_use();
    vem_dict_t d = nullptr;
    unsigned long failures = vem_fault_loop([&] { d = vem_dict_create(); },
                                            [&](unsigned long n, bool failed) {
                                                if (failed) {
                                                    EXPECT_EQ(d, nullptr) << n;
                                                    EXPECT_EQ(heap_in_use(), before) << n;
                                                }
                                            });
    EXPECT_EQ(failures, 2U);  // the cell, then the table record
    vem_dict_delete(d);
}

// Table sizes where the insertion resizes first (3 keys in 4 buckets, 6 in 8, 12 in
// 16) and where it does not (4, 7 keys), with a new key, a present key and a NULL value.
TEST(DictAllocationFailure, AddLeavesTheTableIntact) {
    struct Case {
        int keys;
        const char *key;
        const char *value;
    };
    const Case cases[] = {{0, "new", "v"},     {3, "new", "v"},   {3, "key1", "v"},
                          {4, "new", nullptr}, {6, "new", "v"},   {7, "key2", "replaced"},
                          {12, "new", "v"},    {12, "key5", nullptr}};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.keys << " keys, add " << c.key);
        vem_dict_t d = filled(c.keys);
        Snapshot before = snapshot(d);
        size_t heap_before = heap_in_use();
        bool ok = false;
        unsigned long failures = vem_fault_loop(
            [&] { ok = vem_dict_add(d, c.key, c.value); },
            [&](unsigned long n, bool failed) {
                if (!failed)
                    return;
                EXPECT_FALSE(ok) << n;
                EXPECT_EQ(snapshot(d), before) << n;
                // Allocations: key, value (unless NULL), then for a resize the flags, the
                // key array and the value array. Once the key array was enlarged and the
                // value array failed, the key array keeps its spare room; the passes
                // before that free everything.
                unsigned long value_array = c.value ? 5 : 4;
                if (n < value_array) {
                    EXPECT_EQ(heap_in_use(), heap_before) << n;
                }
                for (auto &[k, v] : before.entries)
                    EXPECT_STREQ(vem_dict_get(d, k.c_str()), v == "<NULL>" ? nullptr : v.c_str());
            });
        EXPECT_TRUE(ok);
        EXPECT_GE(failures, c.value ? 2U : 1U);
        if (c.value)
            EXPECT_STREQ(vem_dict_get(d, c.key), c.value);
        else
            EXPECT_EQ(vem_dict_get(d, c.key), nullptr);
        vem_dict_delete(d);
    }
}

TEST(DictAllocationFailure, DupFreesThePartialCopy) {
    vem_dict_t d = filled(30);
    ASSERT_TRUE(vem_dict_add(d, "null", nullptr));
    Snapshot before = snapshot(d);
    size_t heap_before = heap_in_use();
    vem_dict_t copy = nullptr;
    unsigned long failures = vem_fault_loop([&] { copy = vem_dict_dup(d); },
                                            [&](unsigned long n, bool failed) {
                                                if (!failed)
                                                    return;
                                                EXPECT_EQ(copy, nullptr) << n;
                                                EXPECT_EQ(heap_in_use(), heap_before) << n;
                                                EXPECT_EQ(snapshot(d), before) << n;
                                            });
    EXPECT_GT(failures, 60U);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(snapshot(copy).entries.size(), 31U);
    vem_dict_delete(copy);
    vem_dict_delete(d);
}

}  // namespace
