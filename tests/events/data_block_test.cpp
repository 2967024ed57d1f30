// Block magics: recognising, writing, copying and naming the "VEM" + letter headers.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "events/vem_data_page.h"

namespace {

vem_magic_value_t magic(char a, char b, char c, char d) { return vem_magic_value_t{{a, b, c, d}}; }

TEST(BlockType, FromTheLetterOnly) {
    const std::string known = "BDEPSX";
    const vem_data_block_type_t types[] = {VEM_BLOB_BLOCK, VEM_COUNTERS_BLOCK, VEM_EVENTS_BLOCK,
                                           VEM_PAGE_BLOCK, VEM_SCHEMAS_BLOCK, VEM_CNTX_BLOCK};
    for (int c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        vem_magic_value_t m = magic('V', 'E', 'M', static_cast<char>(c));
        size_t at = c ? known.find(static_cast<char>(c)) : std::string::npos;
        EXPECT_EQ(vem_data_block_get_type(&m), at == std::string::npos ? VEM_UNKNOWN_BLOCK : types[at]);
    }
    vem_magic_value_t abc = magic('A', 'B', 'C', 'E');
    EXPECT_EQ(vem_data_block_get_type(&abc), VEM_EVENTS_BLOCK);
}

TEST(BlockType, SetTypeWritesTheFullMagicOrNothing) {
    const std::pair<vem_data_block_type_t, char> letters[] = {
        {VEM_COUNTERS_BLOCK, 'D'}, {VEM_EVENTS_BLOCK, 'E'}, {VEM_SCHEMAS_BLOCK, 'S'},
        {VEM_BLOB_BLOCK, 'B'},     {VEM_PAGE_BLOCK, 'P'},   {VEM_CNTX_BLOCK, 'X'}};
    for (auto [type, letter] : letters) {
        vem_magic_value_t m = magic('a', 'b', 'c', 'd');
        vem_data_block_set_type(&m, type);
        const char want[4] = {'V', 'E', 'M', letter};
        EXPECT_EQ(0, memcmp(m.bytes, want, 4)) << letter;
        EXPECT_EQ(vem_data_block_get_type(&m), type);
    }
    for (unsigned t : {4u, 7u, 1000u}) {
        vem_magic_value_t m = magic('a', 'b', 'c', 'd');
        vem_data_block_set_type(&m, static_cast<vem_data_block_type_t>(t));
        EXPECT_EQ(0, memcmp(m.bytes, "abcd", 4)) << t;
    }
}

TEST(BlockType, Names) {
    EXPECT_STREQ(vem_data_block_type_to_string(VEM_COUNTERS_BLOCK), "VEM_COUNTERS_BLOCK");
    EXPECT_STREQ(vem_data_block_type_to_string(VEM_EVENTS_BLOCK), "VEM_EVENTS_BLOCK");
    EXPECT_STREQ(vem_data_block_type_to_string(VEM_SCHEMAS_BLOCK), "VEM_SCHEMAS_BLOCK");
    EXPECT_STREQ(vem_data_block_type_to_string(VEM_BLOB_BLOCK), "VEM_BLOB_BLOCK");
    EXPECT_STREQ(vem_data_block_type_to_string(VEM_UNKNOWN_BLOCK), "Unknown block");
    EXPECT_STREQ(vem_data_block_type_to_string(VEM_PAGE_BLOCK), "VEM_PAGE_BLOCK");
    EXPECT_STREQ(vem_data_block_type_to_string(VEM_CNTX_BLOCK), "VEM_CNTX_BLOCK");
    EXPECT_STREQ(vem_data_block_type_to_string(static_cast<vem_data_block_type_t>(7)), "Unknown block");
    EXPECT_STREQ(vem_data_block_type_to_string(static_cast<vem_data_block_type_t>(-1)), "Unknown block");
}

TEST(Magic, FillCopyAndMatch) {
    vem_magic_value_t m;
    vem_magic_value_fill(&m, 'S');
    EXPECT_EQ(0, memcmp(m.bytes, "VEMS", 4));
    EXPECT_TRUE(vem_magic_value_match_type(&m, 'S'));
    EXPECT_FALSE(vem_magic_value_match_type(&m, 'E'));
    vem_magic_value_t vex = magic('V', 'E', 'X', 'S');
    EXPECT_FALSE(vem_magic_value_match_type(&vex, 'S'));

    vem_magic_value_t lower;
    vem_magic_value_fill_lower(&lower, 'E');
    EXPECT_EQ(0, memcmp(lower.bytes, "veme", 4));
    EXPECT_FALSE(vem_magic_value_match_type(&lower, 'e'));

    vem_magic_value_t copy = magic(0, 0, 0, 0);
    vem_magic_value_copy(&copy, &m);
    EXPECT_EQ(0, memcmp(copy.bytes, "VEMS", 4));

    vem_magic_value_t e1 = magic('V', 'E', 'M', 'E'), e2 = magic('V', 'E', 'M', 'E'), s = magic('V', 'E', 'M', 'S');
    EXPECT_TRUE(vem_magic_value_match(&e1, &e2));
    EXPECT_FALSE(vem_magic_value_match(&e1, &s));
    // strncmp stops at a NUL both share: bytes 1 and 2 then do not count.
    vem_magic_value_t n1 = magic(0, 'a', 'b', 'E'), n2 = magic(0, 'x', 'y', 'E'), n3 = magic(0, 'x', 'y', 'S');
    EXPECT_TRUE(vem_magic_value_match(&n1, &n2));
    EXPECT_FALSE(vem_magic_value_match(&n1, &n3));
}

}  // namespace
