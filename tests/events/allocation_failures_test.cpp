// Every allocation of create, start, chunk and delivery made to fail in turn: each pass
// must give one of the documented outcomes, and nothing may leak (this program also
// runs under valgrind). The sink and the callbacks here allocate nothing, so that only
// the library's own allocations are counted.
#include <gtest/gtest.h>

#include <cstdarg>
#include <set>

#include "events_fixture.h"
#include "fault_inject.h"

using namespace evtest;
using testhost::Page;
using testhost::text;

namespace {

struct Sink {
    int count = 0;
    int level[16];
    char text[16][160];
} sink;

void record_line(int level, const char *format, ...) {
    if (sink.count >= 16)
        return;
    va_list ap;
    va_start(ap, format);
    vsnprintf(sink.text[sink.count], sizeof sink.text[0], format, ap);
    va_end(ap);
    sink.level[sink.count++] = level;
}

struct Delivery {
    int whole = 0;
    int extended = 0;
    char payload[16] = {};
    bool meta_ok = false;
} got;

bool meta_ok(vem_dict_t meta) {
    const char *a = vem_dict_get(meta, "a");
    const char *b = vem_dict_get(meta, "b");
    return a && b && strcmp(a, "1") == 0 && strcmp(b, "2") == 0;
}

bool on_event(void *, const char *, const char *, vem_dict_t meta, const vem_app_id_t *, uint64_t, uint64_t,
              const void *data, uint32_t size) {
    if (!meta) {
        ++got.whole;
        return true;
    }
    ++got.extended;
    got.meta_ok = meta_ok(meta);
    memcpy(got.payload, data, size < 15 ? size : 15);
    return true;
}

bool on_chunks(void *, const char *, const char *, vem_dict_t meta, const vem_app_id_t *, uint64_t, uint64_t,
               uint32_t, vem_list_node_t *chunks) {
    ++got.extended;
    got.meta_ok = meta_ok(meta);
    size_t at = 0;
    for (vem_list_node_t *n = chunks->next; n != chunks; n = n->next) {
        auto *c = reinterpret_cast<vem_event_chunk_t *>(reinterpret_cast<char *>(n) - offsetof(vem_event_chunk_t, link));
        memcpy(got.payload + at, c->data, c->size);
        at += c->size;
    }
    return true;
}

vem_type_def_t opaque_def{0, "opaque_event_v1", 0, 0, kRecordSize};
const vem_type_def_t *lookup_fn(void *, const void *, const void *) { return &opaque_def; }

using Line = std::pair<int, std::string>;
using Lines = std::vector<Line>;

Line E(const char *s) { return {3, std::string("[opaque events extractor] ") + s}; }
Line W(const char *s) { return {4, std::string("[opaque events extractor] ") + s}; }

// The warning and error lines of every outcome a pass may have.
std::set<Lines> allowed_outcomes(bool chunk_list) {
    const Lines start_failed_tail = {E("Unable to allocate source info"), E("Unable to handle a relevant opaque event"),
                                     E("events block processing failed"),
                                     W("Chunk event from unknown source: src:tag. Skipped")};
    std::set<Lines> out;
    out.insert(Lines{});
    out.insert({E("cannot allocate extractor")});
    for (const char *first : {"Unable to allocate source info", "Unable to allocate extended event sinfo's meta",
                              "Cannot allocate key for a=1", "Cannot allocate key for b=2",
                              "Cannot add meta pair a=1", "Cannot add meta pair b=2"}) {
        Lines l{E(first)};
        l.insert(l.end(), start_failed_tail.begin(), start_failed_tail.end());
        out.insert(l);
    }
    if (!chunk_list) {
        out.insert(start_failed_tail);  // the payload buffer has no message of its own
    } else {
        for (const char *first : {"Unable to allocate extended event chunk",
                                  "Unable to allocate extended event chunk data buffer of 3 bytes"}) {
            // The first chunk (then the second one finds no event) or the second chunk.
            out.insert({E(first), W("Cannot allocate a extended event chunk. Skipped..."),
                        W("Chunk event from unknown source: src:tag. Skipped")});
            out.insert({E(first), W("Cannot allocate a extended event chunk. Skipped...")});
        }
    }
    return out;
}

class AllocationFailures : public ::testing::TestWithParam<bool> {};

TEST_P(AllocationFailures, EveryFailureHasADocumentedOutcome) {
    const bool chunk_list = GetParam();
    Page p1 = page_of({start(1, 6, testhost::meta({"a=1", "b=2"})), chunk(1, 0, text("abc"))});
    Page p2 = page_of({chunk(1, 3, text("def")), whole(text("w"))});
    testhost::ExactPage page1(p1), page2(p2);
    vem_type_def_lookup_t lookup{&lookup_fn, nullptr};
    vem_opaque_events_callbacks_t cbs{&on_event, chunk_list ? &on_chunks : nullptr, nullptr};
    const std::set<Lines> allowed = allowed_outcomes(chunk_list);
    std::set<Lines> seen;

    vem_log_func_t previous = vem_get_log_func();
    int previous_level = vem_log_level;
    vem_set_log_func(&record_line, 4);
    bool r1 = false, r2 = false, created = false;
    unsigned long passes = vem_fault_loop(
        [&] {
            sink.count = 0;
            got = Delivery{};
            vem_opaque_events_extractor_t *x = vem_opaque_events_extractor_create(&kApp, &cbs);
            created = x != nullptr;
            if (!x)
                return;
            r1 = vem_opaque_events_extractor_process_data_page(x, page1.page(), &lookup);
            r2 = vem_opaque_events_extractor_process_data_page(x, page2.page(), &lookup);
            vem_opaque_events_extractor_delete(x);
        },
        [&](unsigned long n, bool failed) {
            Lines lines;
            for (int i = 0; i < sink.count; ++i)
                lines.emplace_back(sink.level[i], sink.text[i]);
            SCOPED_TRACE("allocation " + std::to_string(n));
            EXPECT_TRUE(allowed.count(lines)) << ::testing::PrintToString(lines);
            seen.insert(lines);
            if (!failed) {
                EXPECT_TRUE(lines.empty());
                EXPECT_TRUE(r1 && r2);
                EXPECT_EQ(got.extended, 1);
                EXPECT_TRUE(got.meta_ok);
                EXPECT_STREQ(got.payload, "abcdef");
            }
            if (created) {
                EXPECT_EQ(got.whole, 1);  // the whole event of page 2 arrives in every pass
            }
        });
    vem_set_log_func(previous, previous_level);
    EXPECT_GT(passes, 5u);
    // Every documented outcome was met by some pass; the meta-pair ones only if the
    // dictionary allocates per insertion, which it does.
    for (const Lines &l : allowed)
        EXPECT_TRUE(seen.count(l)) << "never seen: " << ::testing::PrintToString(l);
}

INSTANTIATE_TEST_SUITE_P(Modes, AllocationFailures, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "ChunkList" : "SingleBuffer"; });

}  // namespace
