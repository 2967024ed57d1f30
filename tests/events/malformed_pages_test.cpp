// Pages outside the format. Each page lives in a heap block of exactly its total_size,
// so a read past its end is caught by AddressSanitizer; each must be refused (or end
// the walk) with a clear message.
#include <gtest/gtest.h>

#include <functional>

#include "events_fixture.h"

using namespace evtest;
using testhost::LogCapture;
using testhost::OpaqueRecord;
using testhost::Page;

namespace {

struct Case {
    const char *name;
    std::function<void(Page &, testhost::Types &)> build;  // must call finish() or set total_size
    bool result;
    std::vector<LogLine> messages;  // warnings and errors, in order
    bool lookup_called;
};

void cut(Page &p, size_t total) { p.total_size(total); }

const std::vector<Case> &cases() {
    static const std::vector<Case> c = {
        {"total_size below the header",
         [](Page &p, testhost::Types &) {
             p.finish();
             cut(p, 100);
         },
         false, {W("Received data page shorter than its header (total=100). Skipping.")}, false},
        {"total_size 16",
         [](Page &p, testhost::Types &) {
             p.finish();
             cut(p, 16);
         },
         false, {W("Received data page shorter than its header (total=16). Skipping.")}, false},
        {"source without NUL",
         [](Page &p, testhost::Types &) {
             p.field(64, 64, std::string(64, 's'));
             p.events(1, 2, 0);
             p.finish();
         },
         false, {W("Received data page with unterminated source or tag. Skipping.")}, false},
        {"tag without NUL",
         [](Page &p, testhost::Types &) {
             p.field(128, 16, std::string(16, 't'));
             p.events(1, 2, 0);
             p.finish();
         },
         false, {W("Received data page with unterminated source or tag. Skipping.")}, false},
        {"events block header cut off",
         [](Page &p, testhost::Types &) {
             p.block('E', {0, 0});
             p.finish();
         },
         false, {E("Bad opaque event block (6 < 16)"), E("events block processing failed")}, false},
        {"schemas block header cut off",
         [](Page &p, testhost::Types &) {
             p.block('S', {20, 0, 0, 0, 0});
             p.finish();
         },
         false, {E("Bad schemas block (9 < 16)")}, false},
        {"three bytes after the last block",
         [](Page &p, testhost::Types &) {
             p.events(1, 2, 0);
             p.raw({'V', 'E', 'M'});
             p.finish();
         },
         true, {}, true},
        {"three zero bytes after the last block",
         [](Page &p, testhost::Types &) {
             p.events(1, 2, 0);
             p.finish(3);
         },
         true, {}, true},
        {"magic alone at the end",
         [](Page &p, testhost::Types &) {
             p.events(1, 2, 0);
             p.raw({'V', 'E', 'M', 'Q'});
             p.finish();
         },
         true, {}, true},
        {"schemas length 0",
         [](Page &p, testhost::Types &) {
             p.schemas(16, 0);
             p.events(1, 2, 0);
             p.finish();
         },
         false, {E("Bad schemas block length 0")}, false},
        {"schemas length 15",
         [](Page &p, testhost::Types &) {
             p.schemas(16, 15);
             p.finish();
         },
         false, {E("Bad schemas block length 15")}, false},
        {"schemas length past the data area",
         [](Page &p, testhost::Types &) {
             p.schemas(40, 41);
             p.finish();
         },
         false, {E("Bad schemas block (40 < 41)")}, false},
        {"record_size below the record header",
         [](Page &p, testhost::Types &t) {
             t.define_opaque(1, 2, 52);
             p.events(1, 2, 1);
             p.raw(Bytes(52, 0));
             p.finish();
         },
         false, {E("Bad opaque event block (record_size 52 < 53)"), E("events block processing failed")}, true},
        {"record_size that wraps the offsets",
         [](Page &p, testhost::Types &t) {
             t.define_opaque(1, 2, UINT64_MAX - 8);
             p.events(1, 2, 2);
             p.raw(Bytes(60, 0));
             p.finish();
         },
         false, {E("Bad opaque event block (76 < 9223372036854775807)"), E("events block processing failed")}, true},
        {"record_size 2^63",
         [](Page &p, testhost::Types &t) {
             t.define_opaque(1, 2, UINT64_C(1) << 63);
             p.events(1, 2, 1);
             p.finish();
         },
         false, {E("Bad opaque event block (16 < 9223372036854775807)"), E("events block processing failed")}, true},
        {"data_size past the record",
         [](Page &p, testhost::Types &) {
             OpaqueRecord r = whole(Bytes(10, 1));
             r.data_size = kRecordSize - 52;
             p.events(1, 2, 1);
             p.record(r, kRecordSize);
             p.finish();
         },
         false, {E("Bad opaque event record (data_size 76 > 75)"), E("events block processing failed")}, true},
        {"data_size 2^32-1 in the last record of the page",
         [](Page &p, testhost::Types &) {
             OpaqueRecord r = start(1, 4);
             r.data_size = UINT32_MAX;
             p.events(1, 2, 1);
             p.record(r, kRecordSize);
             p.finish();
         },
         false, {E("Bad opaque event record (data_size 4294967295 > 75)"), E("events block processing failed")}, true},
        {"meta string unterminated at the page end",
         [](Page &p, testhost::Types &t) {
             t.define_opaque(1, 2, 53 + 7);
             OpaqueRecord r = start(1, 4, testhost::text("key=val"));
             p.events(1, 2, 1);
             p.record(r, 53 + 7);
             p.finish();
         },
         false,
         {E("Invalid meta event data (string without NUL at offset 0)"), E("Unable to allocate source info"),
          E("Unable to handle a relevant opaque event"), E("events block processing failed")},
         true},
        {"other type whose length passes the data area",
         [](Page &p, testhost::Types &t) {
             t.define(1, 2, "counters_v1", 1 << 20);
             p.events(1, 2, 200);
             p.finish(8);
         },
         true, {}, true},
        {"record ending exactly at the page end",
         [](Page &p, testhost::Types &) {
             p.events(1, 2, 1);
             p.record(whole(Bytes(kRecordSize - 53, 7)), kRecordSize);
             p.finish();
         },
         true, {}, true},
    };
    return c;
}

TEST(MalformedPages, RefusedWithoutReadingOutsideThePage) {
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        Harness h;
        Page p;
        c.build(p, h.types);
        LogCapture log;
        EXPECT_EQ(h.process(p), c.result);
        EXPECT_EQ(log.at_most(4), c.messages);
        EXPECT_EQ(!h.types.calls.empty(), c.lookup_called);
        EXPECT_EQ(h.pending(), 0u);
    }
}

TEST(MalformedPages, ShortRemainderEndsTheWalkWithADebugLine) {
    Harness h;
    Page p;
    p.events(1, 2, 0);
    p.raw({'V', 'E'});
    p.finish();
    p.filled_size(738);
    LogCapture log;
    EXPECT_TRUE(h.process(p));
    std::vector<LogLine> expected{D("2 bytes too short for a block (filled=738, processed=16, total=18)")};
    EXPECT_EQ(log.lines(), expected);
}

TEST(MalformedPages, NullArgumentsAreRefused) {
    Harness h;
    LogCapture log;
    Page p = page_of({});
    testhost::ExactPage exact(p);
    auto lk = h.types.lookup();
    vem_type_def_lookup_t no_fn{nullptr, nullptr};
    EXPECT_FALSE(vem_opaque_events_extractor_process_data_page(nullptr, exact.page(), &lk));
    EXPECT_FALSE(vem_opaque_events_extractor_process_data_page(h.x, nullptr, &lk));
    EXPECT_FALSE(vem_opaque_events_extractor_process_data_page(h.x, exact.page(), nullptr));
    EXPECT_FALSE(vem_opaque_events_extractor_process_data_page(h.x, exact.page(), &no_fn));
    EXPECT_EQ(log.at_most(3).size(), 4u);
}

}  // namespace
