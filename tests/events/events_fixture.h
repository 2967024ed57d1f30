// Shared pieces of the extractor tests: an extractor wired to a recorder that keeps a
// copy of every delivered event, and helpers for expected log lines.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "events/vem_opaque_events.h"
#include "fixture/log_capture.h"
#include "fixture/test_host.h"
#include "support/vem_dict.h"

namespace evtest {

using testhost::Bytes;
using testhost::LogLine;

struct Delivered {
    bool via_chunks_cb = false;
    std::string source, tag;
    bool has_meta = false;
    std::map<std::string, std::string> meta;
    vem_app_id_t app{};
    uint64_t value1 = 0, value2 = 0;
    uint32_t size = 0;
    Bytes payload;                 // whole/single-buffer data, or the chunks concatenated
    std::vector<uint32_t> chunk_sizes;
    const void *data_ptr = nullptr;  // as passed, to check pointers into the page
    const void *app_ptr = nullptr;
};

class Recorder {
public:
    std::vector<Delivered> events;
    std::vector<bool> results;  // what the n-th callback returns; true beyond the end

    vem_opaque_events_callbacks_t callbacks(bool chunk_list) {
        return {&Recorder::on_event, chunk_list ? &Recorder::on_chunks : nullptr, this};
    }

private:
    bool next_result() {
        size_t n = events.size() - 1;
        return n < results.size() ? results[n] : true;
    }
    static void copy_meta(vem_dict_t meta, Delivered &d) {
        d.has_meta = meta != nullptr;
        vem_dict_enum(
            meta,
            [](const char *k, const char *v, void *u) {
                (*static_cast<std::map<std::string, std::string> *>(u))[k] = v ? v : "(null)";
                return true;
            },
            &d.meta);
    }
    static bool on_event(void *user, const char *source, const char *tag, vem_dict_t meta,
                         const vem_app_id_t *app, uint64_t v1, uint64_t v2, const void *data,
                         uint32_t size) {
        auto *self = static_cast<Recorder *>(user);
        Delivered d;
        d.source = source;
        d.tag = tag;
        copy_meta(meta, d);
        d.app = *app;
        d.app_ptr = app;
        d.value1 = v1;
        d.value2 = v2;
        d.size = size;
        d.data_ptr = data;
        const auto *p = static_cast<const uint8_t *>(data);
        d.payload.assign(p, p + size);
        self->events.push_back(std::move(d));
        return self->next_result();
    }
    static bool on_chunks(void *user, const char *source, const char *tag, vem_dict_t meta,
                          const vem_app_id_t *app, uint64_t v1, uint64_t v2, uint32_t size,
                          vem_list_node_t *chunks) {
        auto *self = static_cast<Recorder *>(user);
        Delivered d;
        d.via_chunks_cb = true;
        d.source = source;
        d.tag = tag;
        copy_meta(meta, d);
        d.app = *app;
        d.value1 = v1;
        d.value2 = v2;
        d.size = size;
        for (vem_list_node_t *n = chunks->next; n != chunks; n = n->next) {
            auto *c = reinterpret_cast<vem_event_chunk_t *>(reinterpret_cast<char *>(n) -
                                                            offsetof(vem_event_chunk_t, link));
            const auto *p = static_cast<const uint8_t *>(c->data);
            d.payload.insert(d.payload.end(), p, p + c->size);
            d.chunk_sizes.push_back(c->size);
        }
        self->events.push_back(std::move(d));
        return self->next_result();
    }
};

inline const vem_app_id_t kApp = testhost::app_id({0x99, 0x10, 0xc1, 0x28, 0x39, 0x61, 0x47, 0xe6,
                                                   0xbe, 0x6c, 0x71, 0x5a, 0x0f, 0x03, 0xad, 0xd6});
inline const vem_app_id_t kOtherApp = testhost::app_id({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
inline const vem_app_id_t kAnyApp = {};

constexpr size_t kRecordSize = 128;

// An extractor for kApp (or the given id) feeding a recorder; deleted with the fixture.
struct Harness {
    Recorder rec;
    testhost::Types types;
    vem_opaque_events_extractor_t *x = nullptr;

    explicit Harness(bool chunk_list = false, const vem_app_id_t &app = kApp) {
        auto cb = rec.callbacks(chunk_list);
        x = vem_opaque_events_extractor_create(&app, &cb);
        types.define_opaque(1, 2, kRecordSize);
    }
    ~Harness() { vem_opaque_events_extractor_delete(x); }
    Harness(const Harness &) = delete;
    Harness &operator=(const Harness &) = delete;

    // Runs the page from a heap block of exactly its total_size.
    bool process(const testhost::Page &page) {
        testhost::ExactPage exact(page);
        auto lk = types.lookup();
        return vem_opaque_events_extractor_process_data_page(x, exact.page(), &lk);
    }

    size_t pending() const {
        size_t n = 0;
        for (const vem_list_node_t *p = x->pending.next; p != &x->pending; p = p->next)
            ++n;
        return n;
    }
};

inline testhost::OpaqueRecord whole(Bytes data, const vem_app_id_t &app = kApp, uint64_t v1 = 0,
                                    uint64_t v2 = 0) {
    testhost::OpaqueRecord r;
    r.type = VEM_OPAQUE_EVENT_WHOLE;
    r.app = app;
    r.value1 = v1;
    r.value2 = v2;
    r.data = std::move(data);
    return r;
}

inline testhost::OpaqueRecord start(uint32_t id, uint32_t size, Bytes meta = {}, uint64_t v1 = 0,
                                    uint64_t v2 = 0, const vem_app_id_t &app = kApp) {
    testhost::OpaqueRecord r;
    r.type = VEM_OPAQUE_EVENT_EXTENDED;
    r.id = id;
    r.offset = size;
    r.app = app;
    r.value1 = v1;
    r.value2 = v2;
    r.data = std::move(meta);
    return r;
}

inline testhost::OpaqueRecord chunk(uint32_t id, uint32_t offset, Bytes data, const vem_app_id_t &app = kApp) {
    testhost::OpaqueRecord r;
    r.type = VEM_OPAQUE_EVENT_CHUNK;
    r.id = id;
    r.offset = offset;
    r.app = app;
    r.data = std::move(data);
    return r;
}

// A page of one events block (schema 1, type 2) holding the given records.
inline testhost::Page page_of(const std::vector<testhost::OpaqueRecord> &records,
                              std::string_view source = "src", std::string_view tag = "tag") {
    testhost::Page p(source, tag);
    p.events(1, 2, static_cast<uint8_t>(records.size()));
    for (auto &r : records)
        p.record(r, kRecordSize);
    p.finish();
    return p;
}

inline LogLine E(std::string s) { return {3, "[opaque events extractor] " + s}; }
inline LogLine W(std::string s) { return {4, "[opaque events extractor] " + s}; }
inline LogLine D(std::string s) { return {7, "[opaque events extractor] " + s}; }
inline LogLine extracted(uint32_t n) { return D("event of " + std::to_string(n) + " bytes extracted"); }

}  // namespace evtest

namespace testhost {
inline void PrintTo(const LogLine &l, std::ostream *os) { *os << "(" << l.level << ") " << l.text; }
}  // namespace testhost
