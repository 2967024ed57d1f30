// Extended events: start records with meta pairs, chunks in both assembly modes, the
// warnings for chunks that cannot be placed, and the failures of a start.
#include <gtest/gtest.h>

#include "events_fixture.h"

using namespace evtest;
using testhost::LogCapture;
using testhost::meta;
using testhost::Page;
using testhost::text;

namespace {

using Meta = std::map<std::string, std::string>;

class BothModes : public ::testing::TestWithParam<bool> {
protected:
    bool chunk_list() const { return GetParam(); }
};

TEST_P(BothModes, EventAcrossTwoPagesIsDeliveredOnce) {
    Harness h(chunk_list());
    LogCapture log;
    EXPECT_TRUE(h.process(page_of({start(7, 10, meta({"k=v", "n=1"}), 0x1122, 0x3344), chunk(7, 0, text("abcd"))})));
    EXPECT_TRUE(h.rec.events.empty());
    EXPECT_EQ(h.pending(), 1u);
    EXPECT_TRUE(h.process(page_of({chunk(7, 4, text("efghij"))})));
    ASSERT_EQ(h.rec.events.size(), 1u);
    const Delivered &e = h.rec.events[0];
    EXPECT_EQ(e.via_chunks_cb, chunk_list());
    EXPECT_EQ(e.source, "src");
    EXPECT_EQ(e.tag, "tag");
    EXPECT_EQ(e.meta, (Meta{{"k", "v"}, {"n", "1"}}));
    EXPECT_EQ(0, memcmp(&e.app, &kApp, 16));
    EXPECT_EQ(e.value1, 0x1122u);
    EXPECT_EQ(e.value2, 0x3344u);
    EXPECT_EQ(e.size, 10u);
    EXPECT_EQ(e.payload, text("abcdefghij"));
    if (chunk_list()) {
        EXPECT_EQ(e.chunk_sizes, (std::vector<uint32_t>{4, 6}));
    }
    EXPECT_EQ(h.pending(), 0u);
    std::vector<LogLine> expected{extracted(8), extracted(4), extracted(6)};
    EXPECT_EQ(log.lines(), expected);
}

TEST_P(BothModes, SecondStartReplacesTheUnfinishedEvent) {
    Harness h(chunk_list());
    LogCapture log;
    EXPECT_TRUE(h.process(page_of({start(1, 10), chunk(1, 0, text("abc")), start(2, 2), chunk(2, 0, text("xy"))},
                                  "s1", "t1")));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.rec.events[0].payload, text("xy"));
    EXPECT_EQ(h.pending(), 0u);
    EXPECT_EQ(log.at_most(4), std::vector<LogLine>{W("unfinished event deleted (src=s1 tag=t1 id=1 offs=3 size=10)")});
}

TEST_P(BothModes, ChunkWithForeignIdIsSkippedAndTheEventGoesOn) {
    Harness h(chunk_list());
    LogCapture log;
    EXPECT_TRUE(h.process(page_of({start(5, 4), chunk(5, 0, text("ab")), chunk(6, 2, text("zz")), chunk(5, 2, text("cd"))})));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.rec.events[0].payload, text("abcd"));
    EXPECT_EQ(log.at_most(4), std::vector<LogLine>{W("Chunk event with unknown id 6. Skipped")});
}

TEST_P(BothModes, ChunkAtWrongOffsetDropsTheEvent) {
    Harness h(chunk_list());
    LogCapture log;
    EXPECT_TRUE(h.process(page_of({start(5, 6), chunk(5, 0, text("ab")), chunk(5, 3, text("cd")), chunk(5, 2, text("cd"))})));
    EXPECT_TRUE(h.rec.events.empty());
    EXPECT_EQ(h.pending(), 0u);
    std::vector<LogLine> expected{W("Chunk event with bad offset 3!=2. Skipped"),
                                  W("Chunk event from unknown source: src:tag. Skipped")};
    EXPECT_EQ(log.at_most(4), expected);
}

TEST_P(BothModes, InterleavedSourcesAndTagsAssembleIndependently) {
    Harness h(chunk_list());
    EXPECT_TRUE(h.process(page_of({start(1, 4, meta({"who=a"}))}, "A", "t")));
    EXPECT_TRUE(h.process(page_of({start(1, 4, meta({"who=b"}))}, "B", "t")));
    EXPECT_TRUE(h.process(page_of({start(1, 4, meta({"who=c"}))}, "A", "u")));
    EXPECT_EQ(h.pending(), 3u);
    EXPECT_TRUE(h.process(page_of({chunk(1, 0, text("b1"))}, "B", "t")));
    EXPECT_TRUE(h.process(page_of({chunk(1, 0, text("a1"))}, "A", "t")));
    EXPECT_TRUE(h.process(page_of({chunk(1, 0, text("c1")), chunk(1, 2, text("c2"))}, "A", "u")));
    EXPECT_TRUE(h.process(page_of({chunk(1, 2, text("a2"))}, "A", "t")));
    EXPECT_TRUE(h.process(page_of({chunk(1, 2, text("b2"))}, "B", "t")));
    ASSERT_EQ(h.rec.events.size(), 3u);
    EXPECT_EQ(h.rec.events[0].payload, text("c1c2"));
    EXPECT_EQ(h.rec.events[0].meta, (Meta{{"who", "c"}}));
    EXPECT_EQ(h.rec.events[0].tag, "u");
    EXPECT_EQ(h.rec.events[1].payload, text("a1a2"));
    EXPECT_EQ(h.rec.events[1].meta, (Meta{{"who", "a"}}));
    EXPECT_EQ(h.rec.events[2].payload, text("b1b2"));
    EXPECT_EQ(h.rec.events[2].source, "B");
    EXPECT_EQ(h.pending(), 0u);
}

TEST_P(BothModes, MetaPairs) {
    Harness h(chunk_list());
    EXPECT_TRUE(h.process(page_of({start(1, 0, meta({"a=1", "b=", "c=x=y", "a=2"})), chunk(1, 0, {})})));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.rec.events[0].meta, (Meta{{"a", "2"}, {"b", ""}, {"c", "x=y"}}));
    EXPECT_TRUE(h.rec.events[0].has_meta);
    EXPECT_EQ(h.rec.events[0].size, 0u);

    // No meta data: an empty dictionary.
    EXPECT_TRUE(h.process(page_of({start(2, 1), chunk(2, 0, {9})})));
    ASSERT_EQ(h.rec.events.size(), 2u);
    EXPECT_TRUE(h.rec.events[1].has_meta);
    EXPECT_TRUE(h.rec.events[1].meta.empty());
}

TEST_P(BothModes, BadMetaFailsThePageAndLeavesNoEvent) {
    struct Case {
        const char *name;
        Bytes data;
        LogLine error;
    };
    Bytes unterminated = meta({"a=1"});
    unterminated.push_back('b');
    const std::vector<Case> cases = {
        {"no delimiter", meta({"a=1", "abc"}), E("Invaid meta event data (no delimeter)")},
        {"empty string", meta({"a=1", ""}), E("Invaid meta event data (no delimeter)")},
        {"no key", meta({"=v"}), E("Invaid meta event data (no key): =v")},
        {"unterminated", unterminated, E("Invalid meta event data (string without NUL at offset 4)")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(chunk_list());
        EXPECT_TRUE(h.process(page_of({start(1, 4)})));
        LogCapture log;
        EXPECT_FALSE(h.process(page_of({start(2, 4, c.data), whole({1})})));
        EXPECT_EQ(h.pending(), 0u);
        EXPECT_TRUE(h.rec.events.empty());
        std::vector<LogLine> expected{W("unfinished event deleted (src=src tag=tag id=1 offs=0 size=4)"), c.error,
                                      E("Unable to allocate source info"),
                                      E("Unable to handle a relevant opaque event"),
                                      E("events block processing failed")};
        EXPECT_EQ(log.lines(), expected);
    }
}

TEST_P(BothModes, SizeZeroWaitsForAZeroByteChunk) {
    Harness h(chunk_list());
    EXPECT_TRUE(h.process(page_of({start(3, 0)})));
    EXPECT_EQ(h.pending(), 1u);
    EXPECT_TRUE(h.process(page_of({chunk(3, 0, {})})));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.rec.events[0].size, 0u);
    EXPECT_EQ(h.pending(), 0u);
}

TEST_P(BothModes, DeliveryCallbackFalseFreesTheEventAndFailsThePage) {
    Harness h(chunk_list());
    h.rec.results = {false};
    LogCapture log;
    EXPECT_FALSE(h.process(page_of({start(1, 2), chunk(1, 0, text("ab")), whole({1})})));
    EXPECT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.pending(), 0u);
    std::vector<LogLine> expected{E("Unable to handle a relevant opaque event"), E("events block processing failed")};
    EXPECT_EQ(log.at_most(4), expected);
}

TEST_P(BothModes, DeleteDiscardsPendingEventsWithoutDelivery) {
    Harness h(chunk_list());
    EXPECT_TRUE(h.process(page_of({start(1, 10, meta({"a=b"})), chunk(1, 0, text("abc"))}, "A")));
    EXPECT_TRUE(h.process(page_of({start(2, 10), chunk(2, 0, text("x"))}, "B")));
    EXPECT_EQ(h.pending(), 2u);
    // ~Harness deletes the extractor; leak checkers (ASan, valgrind) see the rest.
}

TEST_P(BothModes, FailedPageKeepsOtherPendingEvents) {
    Harness h(chunk_list());
    EXPECT_TRUE(h.process(page_of({start(1, 4), chunk(1, 0, text("ab"))}, "A")));
    EXPECT_FALSE(h.process(page_of({start(9, 4, meta({"bad"}))}, "B")));
    EXPECT_TRUE(h.process(page_of({chunk(1, 2, text("cd"))}, "A")));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.rec.events[0].payload, text("abcd"));
}

INSTANTIATE_TEST_SUITE_P(Modes, BothModes, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "ChunkList" : "SingleBuffer"; });

TEST(SingleBuffer, ChunkPastTheAnnouncedSizeIsRefused) {
    Harness h(false);
    LogCapture log;
    EXPECT_TRUE(h.process(page_of({start(1, 5), chunk(1, 0, text("abc")), chunk(1, 3, text("def")), chunk(1, 6, text("g"))})));
    EXPECT_TRUE(h.rec.events.empty());
    EXPECT_EQ(h.pending(), 0u);
    std::vector<LogLine> expected{W("Chunk event of 3 bytes at offset 3 passes the event size 5. Skipped"),
                                  W("Chunk event from unknown source: src:tag. Skipped")};
    EXPECT_EQ(log.at_most(4), expected);
}

TEST(ChunkList, ChunksPastTheSizeKeepTheEventInProgress) {
    Harness h(true);
    LogCapture log;
    EXPECT_TRUE(h.process(page_of({start(1, 5), chunk(1, 0, text("abc")), chunk(1, 3, text("def"))})));
    EXPECT_TRUE(h.rec.events.empty());
    EXPECT_EQ(h.pending(), 1u);
    EXPECT_TRUE(log.at_most(4).empty());
}

TEST(ChunkList, NodesRunInPayloadOrder) {
    Harness h(true);
    std::vector<testhost::OpaqueRecord> recs{start(4, 6)};
    for (uint32_t i = 0; i < 6; ++i)
        recs.push_back(chunk(4, i, Bytes{static_cast<uint8_t>('a' + i)}));
    EXPECT_TRUE(h.process(page_of(recs)));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.rec.events[0].chunk_sizes, std::vector<uint32_t>(6, 1));
    EXPECT_EQ(h.rec.events[0].payload, text("abcdef"));
}

TEST(ChunkList, ListLayoutSeenByTheCallback) {
    // The callback walks the raw list: next from the sentinel, prev links back.
    struct Seen {
        std::vector<uint32_t> sizes;
        bool links_ok = true;
    } seen;
    auto cb = [](void *u, const char *, const char *, vem_dict_t, const vem_app_id_t *, uint64_t, uint64_t,
                 uint32_t, vem_list_node_t *chunks) {
        auto *s = static_cast<Seen *>(u);
        for (vem_list_node_t *n = chunks->next; n != chunks; n = n->next) {
            s->links_ok = s->links_ok && n->next->prev == n && n->prev->next == n;
            s->sizes.push_back(reinterpret_cast<vem_event_chunk_t *>(reinterpret_cast<char *>(n) - 16)->size);
        }
        s->links_ok = s->links_ok && chunks->prev->next == chunks;
        return true;
    };
    vem_opaque_events_callbacks_t cbs{[](void *, const char *, const char *, vem_dict_t, const vem_app_id_t *,
                                         uint64_t, uint64_t, const void *, uint32_t) { return true; },
                                      cb, &seen};
    vem_opaque_events_extractor_t *x = vem_opaque_events_extractor_create(&kApp, &cbs);
    testhost::Types types;
    types.define_opaque(1, 2, kRecordSize);
    auto lk = types.lookup();
    Page p = page_of({start(1, 7), chunk(1, 0, text("a")), chunk(1, 1, text("bc")), chunk(1, 3, text("defg"))});
    testhost::ExactPage exact(p);
    EXPECT_TRUE(vem_opaque_events_extractor_process_data_page(x, exact.page(), &lk));
    vem_opaque_events_extractor_delete(x);
    EXPECT_EQ(seen.sizes, (std::vector<uint32_t>{1, 2, 4}));
    EXPECT_TRUE(seen.links_ok);
}

TEST(Chunks, ChunkWithoutEventIsSkipped) {
    Harness h;
    LogCapture log;
    EXPECT_TRUE(h.process(page_of({chunk(1, 0, text("ab"))}, "lonely", "t9")));
    std::vector<LogLine> expected{W("Chunk event from unknown source: lonely:t9. Skipped"), extracted(2)};
    EXPECT_EQ(log.lines(), expected);
}

}  // namespace
