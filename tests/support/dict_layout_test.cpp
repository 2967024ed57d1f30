// The dictionary's table as the host sees it: bucket placement, growth, thresholds and
// agreement with an independent model, on tables the library built and tables built by
// hand the way a host builds them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/dict_reference.h"
#include "support/vem_dict.h"

namespace {

using dictref::state_of;

// Fails the test unless the library's table equals the model bucket for bucket.
void expect_same_table(vem_dict_t dict, const dictref::Table &ref) {
    const vem_dict_table_t *t = dict->table;
    ASSERT_EQ(t->bucket_count, ref.n);
    EXPECT_EQ(t->key_count, ref.size);
    EXPECT_EQ(t->occupied_count, ref.occupied);
    EXPECT_EQ(t->grow_threshold, ref.upper);
    for (uint32_t i = 0; i < ref.n; ++i) {
        ASSERT_EQ(state_of(t, i), ref.state[i]) << "bucket " << i;
        if (ref.state[i] != dictref::kLive)
            continue;
        ASSERT_STREQ(t->keys[i], ref.keys[i].c_str()) << "bucket " << i;
        if (ref.values[i])
            ASSERT_STREQ(t->values[i], ref.values[i]->c_str()) << "bucket " << i;
        else
            ASSERT_EQ(t->values[i], nullptr) << "bucket " << i;
    }
}

std::vector<std::string> keys_in_order(vem_dict_t dict) {
    std::vector<std::string> keys;
    vem_dict_enum(
        dict,
        [](const char *key, const char *, void *user) {
            static_cast<std::vector<std::string> *>(user)->push_back(key);
            return true;
        },
        &keys);
    return keys;
}

uint32_t bucket_of(vem_dict_t dict, const char *key) {
    const vem_dict_table_t *t = dict->table;
    for (uint32_t i = 0; i < t->bucket_count; ++i)
        if (state_of(t, i) == dictref::kLive && strcmp(t->keys[i], key) == 0)
            return i;
    return UINT32_MAX;
}

std::string numbered(const char *prefix, int i) {
    char buf[32];
    snprintf(buf, sizeof buf, "%s%06d", prefix, i);
    return buf;
}

TEST(DictLayout, ExporterOptionKeysShareHomeBucketThreeOfFour) {
    vem_dict_t d = vem_dict_create();
    const char *addr = "netflow-collector-addr", *port = "netflow-collector-port",
               *size = "netflow-max-packet-size";
    for (const char *k : {addr, port, size}) {
        EXPECT_EQ(dictref::hash(k) & 3U, 3U) << k;
        ASSERT_TRUE(vem_dict_add(d, k, "v"));
    }
    EXPECT_EQ(d->table->bucket_count, 4U);
    EXPECT_EQ(bucket_of(d, addr), 3U);
    EXPECT_EQ(bucket_of(d, port), 0U);
    EXPECT_EQ(bucket_of(d, size), 2U);
    EXPECT_EQ(keys_in_order(d), (std::vector<std::string>{port, size, addr}));
    vem_dict_delete(d);
}

TEST(DictLayout, HashIsSignedTimesThirtyOne) {
    EXPECT_EQ(dictref::hash("abc"), 96354U);
    vem_dict_t d = vem_dict_create();
    ASSERT_TRUE(vem_dict_add(d, "abc", "1"));
    EXPECT_EQ(bucket_of(d, "abc"), 96354U & 3U);
    ASSERT_TRUE(vem_dict_add(d, "", "empty"));  // the empty key hashes to 0
    EXPECT_EQ(bucket_of(d, ""), 0U);
    EXPECT_STREQ(vem_dict_get(d, ""), "empty");
    vem_dict_delete(d);
}

TEST(DictLayout, GrowsAtTheFourthSeventhThirteenthAndTwentySixthKey) {
    struct Step {
        int keys;
        uint32_t buckets;
        uint32_t threshold;
    };
    const Step steps[] = {{1, 4, 3},   {3, 4, 3},   {4, 8, 6},   {6, 8, 6},  {7, 16, 12},
                          {12, 16, 12}, {13, 32, 25}, {25, 32, 25}, {26, 64, 49}};
    vem_dict_t d = vem_dict_create();
    EXPECT_EQ(d->table->bucket_count, 0U);
    EXPECT_EQ(d->table->flags, nullptr);
    int added = 0;
    for (const Step &s : steps) {
        while (added < s.keys)
            ASSERT_TRUE(vem_dict_add(d, numbered("key-", added++).c_str(), "v"));
        EXPECT_EQ(d->table->bucket_count, s.buckets) << s.keys << " keys";
        EXPECT_EQ(d->table->grow_threshold, s.threshold) << s.keys << " keys";
    }
    vem_dict_delete(d);
}

TEST(DictLayout, ThresholdsUpToAThousandBuckets) {
    const std::pair<uint32_t, uint32_t> expected[] = {{4, 3},     {8, 6},     {16, 12},
                                                      {32, 25},   {64, 49},   {128, 99},
                                                      {256, 197}, {512, 394}, {1024, 788}};
    vem_dict_t d = vem_dict_create();
    int added = 0;
    for (auto [buckets, threshold] : expected) {
        while (d->table->bucket_count < buckets)
            ASSERT_TRUE(vem_dict_add(d, numbered("k", added++).c_str(), nullptr));
        EXPECT_EQ(d->table->grow_threshold, threshold) << buckets;
    }
    vem_dict_delete(d);
}

TEST(DictLayout, ReAddingAPresentKeyInAFullTableStillGrows) {
    vem_dict_t d = vem_dict_create();
    for (const char *k : {"a", "b", "c"})
        ASSERT_TRUE(vem_dict_add(d, k, "old"));
    ASSERT_EQ(d->table->bucket_count, 4U);
    const char *stored_key = d->table->keys[bucket_of(d, "a")];
    ASSERT_TRUE(vem_dict_add(d, "a", "new"));
    EXPECT_EQ(d->table->bucket_count, 8U);
    EXPECT_EQ(d->table->key_count, 3U);
    EXPECT_STREQ(vem_dict_get(d, "a"), "new");
    EXPECT_EQ(d->table->keys[bucket_of(d, "a")], stored_key);  // the first key string stays
    vem_dict_delete(d);
}

// Sign extension only shows in bucket numbers from 512 buckets up (a high byte changes
// the hash by a multiple of 256), so the table is driven past that.
TEST(DictLayout, AgreesWithTheModelForEveryByteValue) {
    vem_dict_t d = vem_dict_create();
    dictref::Table ref;
    auto add = [&](const std::string &k, const char *v) {
        ASSERT_TRUE(vem_dict_add(d, k.c_str(), v));
        ref.insert(k, v ? std::optional<std::string>(v) : std::nullopt);
        expect_same_table(d, ref);
    };
    for (int b = 1; b < 256; ++b) {
        char c = static_cast<char>(b);
        add(std::string(1, c), "one");
        add(std::string("a") + c, nullptr);
        add(std::string(1, c) + "\xE9z" + c, "three");
    }
    ASSERT_GE(ref.n, 1024U);
    for (int b = 1; b < 256; ++b)
        add(std::string(1, static_cast<char>(b)), "replaced");
    for (uint32_t i = 0; i < ref.n; ++i)
        if (ref.state[i] == dictref::kLive) {
            EXPECT_EQ(vem_dict_get(d, ref.keys[i].c_str()) != nullptr, ref.values[i].has_value());
        }
    vem_dict_delete(d);
}

TEST(DictLayout, AgreesWithTheModelOverManyInsertions) {
    vem_dict_t d = vem_dict_create();
    dictref::Table ref;
    for (int i = 0; i < 3000; ++i) {
        std::string k = numbered("key-", (i * 7919) % 2000);  // repeats replace values
        std::string v = std::to_string(i);
        ASSERT_TRUE(vem_dict_add(d, k.c_str(), v.c_str()));
        ref.insert(k, v);
    }
    expect_same_table(d, ref);
    for (uint32_t i = 0; i < ref.n; ++i)
        if (ref.state[i] == dictref::kLive) {
            EXPECT_STREQ(vem_dict_get(d, ref.keys[i].c_str()), ref.values[i]->c_str());
        }
    for (int i = 0; i < 2000; ++i)
        EXPECT_EQ(vem_dict_get(d, numbered("absent-", i).c_str()), nullptr);
    vem_dict_delete(d);
}

TEST(DictHostTable, LibraryExtendsAndWalksATableBuiltByHand) {
    dictref::Table ref;
    for (int i = 0; i < 10; ++i)
        ref.insert(numbered("host-", i), i % 3 ? std::optional<std::string>(numbered("v", i))
                                               : std::nullopt);
    vem_dict_t d = ref.materialize();

    std::vector<std::string> expected_order;
    for (uint32_t i = 0; i < ref.n; ++i)
        if (ref.state[i] == dictref::kLive)
            expected_order.push_back(ref.keys[i]);
    EXPECT_EQ(keys_in_order(d), expected_order);
    EXPECT_STREQ(vem_dict_get(d, "host-000001"), "v000001");
    EXPECT_EQ(vem_dict_get(d, "host-000000"), nullptr);

    for (int i = 10; i < 200; ++i) {
        std::string k = numbered("host-", i);
        ASSERT_TRUE(vem_dict_add(d, k.c_str(), "lib"));
        ref.insert(k, "lib");
        expect_same_table(d, ref);
    }
    vem_dict_t copy = vem_dict_dup(d);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(keys_in_order(copy).size(), 200U);
    vem_dict_delete(copy);
    vem_dict_delete(d);  // frees the host's arrays too
}

// A host that removes keys leaves deleted buckets: lookups pass over them and
// insertions reuse them.
TEST(DictHostTable, DeletedBucketsFromTheHostAreReused) {
    dictref::Table ref;
    for (int i = 0; i < 45; ++i)
        ref.insert(numbered("k", i), numbered("v", i));
    for (int i = 0; i < 45; ++i)
        if (i % 4)
            ref.erase(numbered("k", i));
    vem_dict_t d = ref.materialize();
    for (int i = 0; i < 45; ++i)
        EXPECT_EQ(vem_dict_get(d, numbered("k", i).c_str()) == nullptr, i % 4 != 0) << i;
    for (int i = 0; i < 60; ++i) {
        std::string k = numbered(i % 3 ? "n" : "k", i);  // removed keys come back too
        ASSERT_TRUE(vem_dict_add(d, k.c_str(), "again"));
        ref.insert(k, "again");
        expect_same_table(d, ref);
    }
    vem_dict_delete(d);
}

// The threshold reached with few live keys: the next insertion rebuilds the table at
// the same bucket count without its deleted buckets.
TEST(DictHostTable, ThresholdReachedWithFewKeysRebuildsAtTheSameSize) {
    dictref::Table ref;
    for (int i = 0; i < 49; ++i)
        ref.insert(numbered("k", i), numbered("v", i));
    ASSERT_EQ(ref.n, 64U);
    ASSERT_EQ(ref.occupied, ref.upper);
    for (int i = 0; i < 49; ++i)
        if (i % 3)
            ref.erase(numbered("k", i));
    vem_dict_t d = ref.materialize();
    ASSERT_TRUE(vem_dict_add(d, "first", "1"));
    ref.insert("first", "1");
    expect_same_table(d, ref);
    EXPECT_EQ(d->table->bucket_count, 64U);
    EXPECT_EQ(d->table->occupied_count, d->table->key_count);
    vem_dict_delete(d);
}

}  // namespace
