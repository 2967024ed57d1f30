// The page walk as a host drives it: header checks, block sequence, type lookup,
// application filter, whole events delivered with pointers into the page.
#include <gtest/gtest.h>

#include "events_fixture.h"

using namespace evtest;
using testhost::LogCapture;
using testhost::OpaqueRecord;
using testhost::Page;

namespace {

std::string app_text(const vem_app_id_t &a) {
    char buf[40];
    const uint8_t *b = a.bytes;
    snprintf(buf, sizeof buf, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", b[0], b[1],
             b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return buf;
}

TEST(ExtractorCreate, CopiesSettingsAndStartsEmpty) {
    Recorder rec;
    auto cb = rec.callbacks(false);
    vem_opaque_events_extractor_t *x = vem_opaque_events_extractor_create(&kApp, &cb);
    ASSERT_NE(x, nullptr);
    EXPECT_TRUE(x->single_buffer);
    EXPECT_FALSE(x->any_app_id);
    EXPECT_EQ(0, memcmp(&x->app_id, &kApp, 16));
    EXPECT_EQ(x->pending.next, &x->pending);
    EXPECT_EQ(x->pending.prev, &x->pending);
    EXPECT_EQ(x->callbacks.user_data, &rec);
    vem_opaque_events_extractor_delete(x);

    cb = rec.callbacks(true);
    x = vem_opaque_events_extractor_create(&kAnyApp, &cb);
    ASSERT_NE(x, nullptr);
    EXPECT_FALSE(x->single_buffer);
    EXPECT_TRUE(x->any_app_id);
    vem_opaque_events_extractor_delete(x);
    vem_opaque_events_extractor_delete(nullptr);
}

TEST(ExtractorCreate, RefusesMissingArguments) {
    LogCapture log;
    Recorder rec;
    auto cb = rec.callbacks(false);
    vem_opaque_events_callbacks_t no_event_cb{nullptr, nullptr, nullptr};
    EXPECT_EQ(vem_opaque_events_extractor_create(nullptr, &cb), nullptr);
    EXPECT_EQ(vem_opaque_events_extractor_create(&kApp, nullptr), nullptr);
    EXPECT_EQ(vem_opaque_events_extractor_create(&kApp, &no_event_cb), nullptr);
    EXPECT_EQ(log.at_most(3).size(), 3u);
}

TEST(PageWalk, WholeEventsArriveWithPointersIntoThePage) {
    Harness h;
    LogCapture log;
    Page p = page_of({whole(testhost::text("hello"), kApp, 11, 22), whole(testhost::text("x"), kApp, 1, 2)},
                     "router-7", "eth0");
    testhost::ExactPage exact(p);
    auto lk = h.types.lookup();
    ASSERT_TRUE(vem_opaque_events_extractor_process_data_page(h.x, exact.page(), &lk));
    ASSERT_EQ(h.rec.events.size(), 2u);
    const Delivered &e = h.rec.events[0];
    EXPECT_EQ(e.source, "router-7");
    EXPECT_EQ(e.tag, "eth0");
    EXPECT_FALSE(e.has_meta);
    EXPECT_EQ(e.value1, 11u);
    EXPECT_EQ(e.value2, 22u);
    EXPECT_EQ(e.payload, testhost::text("hello"));
    const uint8_t *rec0 = reinterpret_cast<const uint8_t *>(exact.page()) + 720 + 16;
    EXPECT_EQ(e.data_ptr, rec0 + 53);
    EXPECT_EQ(e.app_ptr, rec0 + 17);
    EXPECT_EQ(0, memcmp(&e.app, &kApp, 16));
    EXPECT_EQ(h.rec.events[1].payload, testhost::text("x"));
    std::vector<LogLine> expected{extracted(5), extracted(1)};
    EXPECT_EQ(log.lines(), expected);
}

TEST(PageWalk, HeaderChecks) {
    struct Case {
        const char *name;
        uint8_t version, revision;
        bool empty;
        bool result;
        std::vector<LogLine> log;
    };
    const std::vector<Case> cases = {
        {"version 0", 0, 7, false, false, {W("Received incompatible data page. Skipping.")}},
        {"version 2", 2, 9, false, false, {W("Received incompatible data page. Skipping.")}},
        {"revision 6", 1, 6, false, false, {W("Received incompatible data page. Skipping.")}},
        {"revision 200", 1, 200, false, true, {extracted(1)}},
        {"filled 720", 1, 7, true, false, {W("Received empty data page. Skipping.")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        LogCapture log;
        Page p = page_of({whole({7})});
        p.version(c.version, c.revision);
        if (c.empty)
            p.filled_size(720);
        EXPECT_EQ(h.process(p), c.result);
        EXPECT_EQ(log.lines(), c.log);
        EXPECT_EQ(h.rec.events.size(), c.result ? 1u : 0u);
    }
}

TEST(PageWalk, EmptyDataAreaIsTrueWithoutAnyCall) {
    Harness h;
    LogCapture log;
    Page p;
    p.finish();
    p.filled_size(721);  // not the empty marker; total_size 720 leaves no data area
    EXPECT_TRUE(h.process(p));
    EXPECT_TRUE(h.types.calls.empty());
    EXPECT_TRUE(log.lines().empty());
}

TEST(PageWalk, WalkIsBoundedByTotalSizeNotFilledSize) {
    Harness h;
    LogCapture log;
    Page p = page_of({whole({1})});
    p.filled_size(800);  // claims less than the block; the walk reads to total_size
    EXPECT_TRUE(h.process(p));
    EXPECT_EQ(h.rec.events.size(), 1u);
}

TEST(PageWalk, ZeroRemainderEndsTheWalk) {
    Harness h;
    LogCapture log;
    Page p;
    p.events(1, 2, 1);
    p.record(whole({1, 2, 3}), kRecordSize);
    p.finish(100);
    ASSERT_TRUE(h.process(p));
    EXPECT_EQ(h.rec.events.size(), 1u);
    size_t filled = 720 + 16 + kRecordSize;
    std::vector<LogLine> expected{
        extracted(3), D("unexpected block type 4 (filled=" + std::to_string(filled) + ", processed=" +
                        std::to_string(16 + kRecordSize) + ", total=" + std::to_string(16 + kRecordSize + 100) + ")")};
    EXPECT_EQ(log.lines(), expected);
}

TEST(PageWalk, OtherBlocksEndTheWalkCountersFailIt) {
    struct Case {
        char letter;
        bool result;
        std::vector<LogLine> tail;  // after the first event's line
    };
    // Offsets: first events block 16 + 128 bytes, then the block in question.
    const std::vector<Case> cases = {
        {'B', true, {D("unexpected block type 3 (filled=904, processed=144, total=200)")}},
        {'P', true, {D("unexpected block type 5 (filled=904, processed=144, total=200)")}},
        {'X', true, {D("unexpected block type 6 (filled=904, processed=144, total=200)")}},
        {'Q', true, {D("unexpected block type 4 (filled=904, processed=144, total=200)")}},
        {'D', false, {E("unexpected VEM_COUNTERS_BLOCK found")}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.letter);
        Harness h;
        LogCapture log;
        Page p;
        p.events(1, 2, 1);
        p.record(whole({1}), kRecordSize);
        p.block(c.letter);
        p.events(1, 2, 1);
        p.record(whole({2}), 24);  // never read
        p.finish();
        p.filled_size(904);
        EXPECT_EQ(h.process(p), c.result);
        ASSERT_EQ(h.rec.events.size(), 1u);
        EXPECT_EQ(h.rec.events[0].payload, Bytes{1});
        std::vector<LogLine> expected{extracted(1)};
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(log.lines(), expected);
    }
}

TEST(PageWalk, LookupGetsTheLatestSchemasBlockOfThePage) {
    Harness h;
    LogCapture log;
    Page p;
    size_t e1 = p.events(1, 2, 0);
    size_t s1 = p.schemas(20);
    size_t s2 = p.schemas(16);
    size_t e2 = p.events(1, 2, 0);
    size_t s3 = p.schemas(32);
    size_t e3 = p.events(1, 2, 0);
    p.finish();
    testhost::ExactPage exact(p);
    const uint8_t *area = reinterpret_cast<const uint8_t *>(exact.page()) + 720;
    auto lk = h.types.lookup();
    ASSERT_TRUE(vem_opaque_events_extractor_process_data_page(h.x, exact.page(), &lk));
    ASSERT_EQ(h.types.calls.size(), 3u);
    EXPECT_EQ(h.types.calls[0].schemas_block, nullptr);
    EXPECT_EQ(h.types.calls[0].events_block, area + e1);
    EXPECT_EQ(h.types.calls[1].schemas_block, area + s2);
    EXPECT_EQ(h.types.calls[1].events_block, area + e2);
    EXPECT_EQ(h.types.calls[2].schemas_block, area + s3);
    EXPECT_EQ(h.types.calls[2].events_block, area + e3);
    (void)s1;
    std::vector<LogLine> expected(3, D("VEM_SCHEMAS_BLOCK found"));
    EXPECT_EQ(log.lines(), expected);

    // A new page starts without a schemas block.
    h.types.calls.clear();
    Page q = page_of({});
    ASSERT_TRUE(h.process(q));
    ASSERT_EQ(h.types.calls.size(), 1u);
    EXPECT_EQ(h.types.calls[0].schemas_block, nullptr);
}

TEST(PageWalk, MissingTypeDefinitionFailsThePage) {
    Harness h;
    LogCapture log;
    Page p;
    p.events(9, 513, 1);
    p.record(whole({1}), kRecordSize);
    p.finish();
    EXPECT_FALSE(h.process(p));
    std::vector<LogLine> expected{E("Unable to get type_definition for schema_index:9 type_index:513"),
                                  E("events block processing failed")};
    EXPECT_EQ(log.lines(), expected);
}

TEST(PageWalk, TypeDefinitionWithoutNameCountsAsMissing) {
    Harness h;
    LogCapture log;
    static vem_type_def_t nameless{0, nullptr, 0, 0, kRecordSize};
    vem_type_def_lookup_t lk{[](void *, const void *, const void *) -> const vem_type_def_t * { return &nameless; },
                             nullptr};
    Page p = page_of({whole({1})});
    testhost::ExactPage exact(p);
    EXPECT_FALSE(vem_opaque_events_extractor_process_data_page(h.x, exact.page(), &lk));
    std::vector<LogLine> expected{E("Unable to get type_definition for schema_index:1 type_index:2"),
                                  E("events block processing failed")};
    EXPECT_EQ(log.lines(), expected);
}

TEST(PageWalk, TypeNamePrefix) {
    struct Case {
        const char *name;
        bool opaque;
    };
    const std::vector<Case> cases = {
        {"opaque_event_", true},     {"opaque_event_netflow", true}, {"opaque_event", false},
        {"opaque_evenT_x", false},   {"", false},                     {"counters_v1", false},
        {"opaque_events", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.types.define(1, 2, c.name, kRecordSize);
        LogCapture log;
        // The skipped block is passed by its computed length: the next block is read.
        Page p;
        p.events(1, 2, 2);
        p.record(whole({1}), kRecordSize);
        p.record(whole({2}), kRecordSize);
        p.events(1, 3, 1);
        h.types.define_opaque(1, 3, 60);
        p.record(whole({3}), 60);
        p.finish();
        EXPECT_TRUE(h.process(p));
        std::vector<LogLine> expected;
        if (c.opaque)
            expected = {extracted(1), extracted(1), extracted(1)};
        else
            expected = {D(std::string(c.name) + " is not an opaque data page. Skipping."), extracted(1)};
        EXPECT_EQ(log.lines(), expected);
        EXPECT_EQ(h.rec.events.size(), c.opaque ? 3u : 1u);
    }
}

TEST(PageWalk, SkippedBlockLengthIsNotCheckedAgainstThePage) {
    Harness h;
    h.types.define(1, 2, "counters_v1", 1000);  // 16 + 3 * 1000 bytes, far past the page
    LogCapture log;
    Page p;
    p.events(1, 2, 3);
    p.finish(40);
    EXPECT_TRUE(h.process(p));
    std::vector<LogLine> expected{D("counters_v1 is not an opaque data page. Skipping.")};
    EXPECT_EQ(log.lines(), expected);
}

TEST(PageWalk, SkippedBlockWithNegativeLengthFails) {
    Harness h;
    h.types.define(1, 2, "counters_v1", UINT64_C(1) << 62);  // 2 * 2^62 + 16 is negative
    LogCapture log;
    Page p;
    p.events(1, 2, 2);
    p.finish(40);
    EXPECT_FALSE(h.process(p));
    std::vector<LogLine> expected{D("counters_v1 is not an opaque data page. Skipping."),
                                  E("events block processing failed")};
    EXPECT_EQ(log.lines(), expected);
}

TEST(PageWalk, ZeroRecordsCountSixteenBytes) {
    Harness h;
    LogCapture log;
    Page p;
    p.events(1, 2, 0);
    p.events(1, 2, 1);
    p.record(whole({5}), kRecordSize);
    p.finish();
    EXPECT_TRUE(h.process(p));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_EQ(h.types.calls.size(), 2u);
}

TEST(PageWalk, RecordPastTheDataAreaFailsAfterTheEarlierOnes) {
    Harness h;
    LogCapture log;
    Page p;
    p.events(1, 2, 3);
    p.record(whole({1}), kRecordSize);
    p.record(whole({2}), kRecordSize);
    p.record(Bytes(kRecordSize - 1, 0));  // third record one byte short
    p.finish();
    EXPECT_FALSE(h.process(p));
    EXPECT_EQ(h.rec.events.size(), 2u);
    size_t remaining = 16 + 3 * kRecordSize - 1;
    std::vector<LogLine> expected{
        extracted(1), extracted(1),
        E("Bad opaque event block (" + std::to_string(remaining) + " < " + std::to_string(remaining + 1) + ")"),
        E("events block processing failed")};
    EXPECT_EQ(log.lines(), expected);
}

TEST(PageWalk, ApplicationFilter) {
    LogCapture log;
    // A record of another application is skipped whatever its type, even an unknown one.
    OpaqueRecord foreign_bad = whole({1, 2}, kOtherApp);
    foreign_bad.type = 77;
    Page p = page_of({foreign_bad, whole({3}, kOtherApp), whole({4})});
    {
        Harness h;
        log.clear();
        EXPECT_TRUE(h.process(p));
        ASSERT_EQ(h.rec.events.size(), 1u);
        EXPECT_EQ(h.rec.events[0].payload, Bytes{4});
        LogLine skip = D("Not a desired app_id (" + app_text(kOtherApp) + "!= " + app_text(kApp) + "), skipping...");
        EXPECT_EQ(skip.text,
                  "[opaque events extractor] Not a desired app_id (01020304-0506-0708-090a-0b0c0d0e0f10!= "
                  "9910c128-3961-47e6-be6c-715a0f03add6), skipping...");
        std::vector<LogLine> expected{skip, extracted(2), skip, extracted(1), extracted(1)};
        EXPECT_EQ(log.lines(), expected);
    }
    {
        // Any-app: every application, so the unknown type now fails the page.
        Harness h(false, kAnyApp);
        log.clear();
        EXPECT_FALSE(h.process(p));
        std::vector<LogLine> expected{E("Unknown opaque event type: 77"),
                                      E("Unable to handle a relevant opaque event"),
                                      E("events block processing failed")};
        EXPECT_EQ(log.lines(), expected);
        EXPECT_TRUE(h.rec.events.empty());
    }
}

TEST(PageWalk, CallbackFalseStopsThePage) {
    Harness h;
    h.rec.results = {false};
    LogCapture log;
    Page p = page_of({whole({1}), whole({2}), whole({3})});
    EXPECT_FALSE(h.process(p));
    EXPECT_EQ(h.rec.events.size(), 1u);
    std::vector<LogLine> expected{E("Unable to handle a relevant opaque event"), E("events block processing failed")};
    EXPECT_EQ(log.lines(), expected);

    // The extractor stays usable.
    h.rec.results.clear();
    EXPECT_TRUE(h.process(p));
    EXPECT_EQ(h.rec.events.size(), 4u);
}

TEST(PageWalk, WholeEventsGoToEventCbInChunkListMode) {
    Harness h(true);
    Page p = page_of({whole({9, 8})});
    EXPECT_TRUE(h.process(p));
    ASSERT_EQ(h.rec.events.size(), 1u);
    EXPECT_FALSE(h.rec.events[0].via_chunks_cb);
    EXPECT_FALSE(h.rec.events[0].has_meta);
}

TEST(PageWalk, ZeroSizeRecordAndFullRecord) {
    Harness h;
    LogCapture log;
    Page p = page_of({whole({}), whole(Bytes(kRecordSize - 53, 0xab))});
    EXPECT_TRUE(h.process(p));
    ASSERT_EQ(h.rec.events.size(), 2u);
    EXPECT_EQ(h.rec.events[0].size, 0u);
    EXPECT_EQ(h.rec.events[1].payload, Bytes(kRecordSize - 53, 0xab));
}

TEST(PageWalk, MessagesFollowTheLevelNotThePath) {
    // Level 0 writes nothing, and the results and deliveries stay the same.
    Harness h;
    LogCapture log(0);
    Page p = page_of({whole({1}, kOtherApp), whole({2})});
    EXPECT_TRUE(h.process(p));
    EXPECT_EQ(h.rec.events.size(), 1u);
    EXPECT_TRUE(log.lines().empty());
}

}  // namespace
