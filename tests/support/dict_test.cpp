// Dictionary operations through the exported interface: values (NULL included),
// replacement, copies, walks and the debug dump.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "fixture/log_capture.h"
#include "support/vem_dict.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// In bucket order; NULL values show as "<NULL>" so that they can be told apart.
Pairs pairs_of(vem_dict_t dict) {
    Pairs out;
    EXPECT_TRUE(vem_dict_enum(
        dict,
        [](const char *k, const char *v, void *user) {
            static_cast<Pairs *>(user)->emplace_back(k, v ? v : "<NULL>");
            return true;
        },
        &out));
    return out;
}

// A copy is filled in the source's bucket order, so colliding keys may sit elsewhere.
Pairs sorted_pairs_of(vem_dict_t dict) {
    Pairs p = pairs_of(dict);
    std::sort(p.begin(), p.end());
    return p;
}

struct DictTest : ::testing::Test {
    vem_dict_t d = vem_dict_create();
    void SetUp() override { ASSERT_NE(d, nullptr); }
    void TearDown() override { vem_dict_delete(d); }
};

TEST(DictNullHandle, EveryOperationAcceptsIt) {
    EXPECT_FALSE(vem_dict_add(nullptr, "k", "v"));
    EXPECT_EQ(vem_dict_get(nullptr, "k"), nullptr);
    EXPECT_EQ(vem_dict_dup(nullptr), nullptr);
    EXPECT_TRUE(vem_dict_enum(nullptr, [](const char *, const char *, void *) { return false; },
                              nullptr));
    testhost::LogCapture log;
    vem_dict_dump(nullptr, "none");
    vem_dict_delete(nullptr);
    EXPECT_TRUE(log.texts().empty());
}

TEST_F(DictTest, FreshDictionaryIsEmptyEverywhere) {
    EXPECT_EQ(vem_dict_get(d, "k"), nullptr);
    int calls = 0;
    EXPECT_TRUE(vem_dict_enum(
        d, [](const char *, const char *, void *c) { return ++*static_cast<int *>(c), true; },
        &calls));
    EXPECT_EQ(calls, 0);
    vem_dict_t copy = vem_dict_dup(d);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, d);
    EXPECT_EQ(copy->table->key_count, 0U);
    vem_dict_delete(copy);
}

TEST_F(DictTest, NullKeyIsRefused) {
    EXPECT_FALSE(vem_dict_add(d, nullptr, "v"));
    EXPECT_EQ(d->table->key_count, 0U);
    ASSERT_TRUE(vem_dict_add(d, "k", "v"));
    EXPECT_EQ(vem_dict_get(d, nullptr), nullptr);
}

TEST_F(DictTest, StoresCopiesNotTheCallersStrings) {
    char key[] = "name", value[] = "alpha";
    ASSERT_TRUE(vem_dict_add(d, key, value));
    key[0] = 'X';
    value[0] = 'X';
    EXPECT_STREQ(vem_dict_get(d, "name"), "alpha");
    EXPECT_NE(vem_dict_get(d, "name"), value);
    EXPECT_EQ(vem_dict_get(d, "Xame"), nullptr);
}

TEST_F(DictTest, NullValueIsStoredAsNull) {
    ASSERT_TRUE(vem_dict_add(d, "nothing", nullptr));
    ASSERT_TRUE(vem_dict_add(d, "something", "x"));
    EXPECT_EQ(vem_dict_get(d, "nothing"), nullptr);
    EXPECT_EQ(d->table->key_count, 2U);
    vem_dict_t copy = vem_dict_dup(d);
    EXPECT_EQ(sorted_pairs_of(copy), sorted_pairs_of(d));
    Pairs p = pairs_of(copy);
    EXPECT_NE(std::find(p.begin(), p.end(), std::pair<std::string, std::string>("nothing", "<NULL>")),
              p.end());
    vem_dict_delete(copy);
}

TEST_F(DictTest, ReplacingAValueKeepsTheCount) {
    struct Step {
        const char *value;
        const char *expected;
    };
    const Step steps[] = {{"one", "one"}, {nullptr, nullptr}, {"three", "three"}, {"", ""}};
    for (const Step &s : steps) {
        ASSERT_TRUE(vem_dict_add(d, "key", s.value));
        EXPECT_EQ(d->table->key_count, 1U);
        if (s.expected)
            EXPECT_STREQ(vem_dict_get(d, "key"), s.expected);
        else
            EXPECT_EQ(vem_dict_get(d, "key"), nullptr);
    }
}

TEST_F(DictTest, DupIsDeepAndIndependent) {
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(vem_dict_add(d, ("k" + std::to_string(i)).c_str(), std::to_string(i).c_str()));
    vem_dict_t copy = vem_dict_dup(d);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(sorted_pairs_of(copy), sorted_pairs_of(d));
    EXPECT_NE(vem_dict_get(copy, "k7"), vem_dict_get(d, "k7"));
    ASSERT_TRUE(vem_dict_add(copy, "k7", "changed"));
    EXPECT_STREQ(vem_dict_get(d, "k7"), "7");
    vem_dict_delete(copy);
    EXPECT_STREQ(vem_dict_get(d, "k7"), "7");
}

TEST_F(DictTest, CallbackReturningFalseStopsAtOnce) {
    for (const char *k : {"a", "b", "c"})
        ASSERT_TRUE(vem_dict_add(d, k, k));
    struct Seen {
        int calls = 0;
        void *user = nullptr;
    } seen;
    EXPECT_FALSE(vem_dict_enum(
        d,
        [](const char *, const char *, void *user) {
            auto *s = static_cast<Seen *>(user);
            ++s->calls;
            s->user = user;
            return false;
        },
        &seen));
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.user, &seen);
    EXPECT_FALSE(vem_dict_enum(d, nullptr, nullptr));  // nothing to call: refused
}

// A callback that adds keys makes the table grow (and move its arrays) under the walk;
// the walk reads the table record again after every call and stays inside the arrays.
TEST_F(DictTest, CallbackMayGrowTheTableItWalks) {
    ASSERT_TRUE(vem_dict_add(d, "seed", "0"));
    struct Ctx {
        vem_dict_t d;
        int calls;
        size_t key_bytes;
    } ctx{d, 0, 0};
    EXPECT_TRUE(vem_dict_enum(
        d,
        [](const char *key, const char *, void *user) {
            auto *c = static_cast<Ctx *>(user);
            c->key_bytes += strlen(key);  // the strings handed over are live
            if (c->calls++ == 0) {
                for (int i = 0; i < 39; ++i) {
                    EXPECT_TRUE(vem_dict_add(c->d, ("grow" + std::to_string(i)).c_str(), "x"));
                }
            }
            return true;
        },
        &ctx));
    EXPECT_GT(ctx.calls, 1);
    EXPECT_EQ(d->table->bucket_count, 64U);
    EXPECT_EQ(d->table->key_count, 40U);
}

TEST_F(DictTest, DumpLogsHeaderAndOneLinePerEntryInBucketOrder) {
    ASSERT_TRUE(vem_dict_add(d, "netflow-collector-addr", "10.0.0.1"));
    ASSERT_TRUE(vem_dict_add(d, "netflow-collector-port", nullptr));
    {
        testhost::LogCapture log(7);
        vem_dict_dump(d, "options");
        std::vector<testhost::LogLine> expected = {
            {7, "options map values: "},
            {7, "key=netflow-collector-port  val=(null)"},
            {7, "key=netflow-collector-addr  val=10.0.0.1"},
        };
        EXPECT_EQ(testhost::LogCapture::lines(), expected);
    }
    {
        testhost::LogCapture log(6);
        vem_dict_dump(d, "options");
        EXPECT_TRUE(log.texts().empty());
    }
}

TEST_F(DictTest, DumpOfAnEmptyDictionaryIsItsHeader) {
    testhost::LogCapture log(7);
    vem_dict_dump(d, "empty");
    EXPECT_EQ(log.texts(), std::vector<std::string>{"empty map values: "});
}

}  // namespace
