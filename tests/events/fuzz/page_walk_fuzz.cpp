// Fuzz target for the page walk and the reassembly. Input: one flag byte (bit 0 chunk-
// list mode, bit 1 any application), then up to eight pages, each a 16-bit little-
// endian length and that many bytes. Each page is copied into a heap block of exactly
// its length, and its total_size field is set to that length (the host contract), so
// that a sanitizer sees every read past a page. One extractor sees all pages in turn.
//
// The type lookup answers from the events block header: type_index & 3 picks the name
// ("opaque_event_v1", "counters_v1", the 12-character "opaque_event", or no definition),
// type_index >> 2 the record size, and schema_index bit 7 turns that size into
// UINT64_MAX minus it.
//
// A start record may announce up to 4 GiB, which single-buffer mode allocates at once;
// run with -malloc_limit_mb=4400 (or more) so that libFuzzer does not call that an
// out-of-memory, e.g.
//   events_page_walk_fuzz -malloc_limit_mb=4400 -max_len=8192 CORPUS_COPY_DIR
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "events/vem_opaque_events.h"
#include "support/vem_dict.h"
#include "support/vem_log.h"

namespace {

const vem_app_id_t kApp = {{0x99, 0x10, 0xc1, 0x28, 0x39, 0x61, 0x47, 0xe6, 0xbe, 0x6c, 0x71, 0x5a, 0x0f, 0x03,
                            0xad, 0xd6}};

struct Defs {
    vem_type_def_t def;
} defs;

const vem_type_def_t *lookup(void *, const void *, const void *events_block) {
    const uint8_t *h = static_cast<const uint8_t *>(events_block);
    uint16_t type_index;
    memcpy(&type_index, h + 13, 2);
    static const char *const names[] = {"opaque_event_v1", "counters_v1", "opaque_event", nullptr};
    const char *name = names[type_index & 3];
    if (!name)
        return nullptr;
    uint64_t size = type_index >> 2;
    defs.def = vem_type_def_t{};
    defs.def.name = name;
    defs.def.record_size = (h[12] & 0x80) ? UINT64_MAX - size : size;
    return &defs.def;
}

volatile uint32_t sink_sum;

void touch(const void *p, size_t n) {
    const uint8_t *b = static_cast<const uint8_t *>(p);
    uint32_t s = 0;
    for (size_t i = 0; i < n; ++i)
        s += b[i];
    sink_sum = sink_sum + s;
}

bool touch_pair(const char *k, const char *v, void *) {
    touch(k, strlen(k));
    if (v)
        touch(v, strlen(v));
    return true;
}

bool on_event(void *, const char *source, const char *tag, vem_dict_t meta, const vem_app_id_t *app,
              uint64_t, uint64_t, const void *data, uint32_t size) {
    touch(source, strlen(source));
    touch(tag, strlen(tag));
    touch(app, sizeof *app);
    vem_dict_enum(meta, &touch_pair, nullptr);
    touch(data, size);
    return size % 13 != 12;
}

bool on_chunks(void *, const char *source, const char *tag, vem_dict_t meta, const vem_app_id_t *app,
               uint64_t, uint64_t, uint32_t size, vem_list_node_t *chunks) {
    touch(source, strlen(source));
    touch(tag, strlen(tag));
    touch(app, sizeof *app);
    vem_dict_enum(meta, &touch_pair, nullptr);
    for (vem_list_node_t *n = chunks->next; n != chunks; n = n->next) {
        auto *c = reinterpret_cast<vem_event_chunk_t *>(reinterpret_cast<char *>(n) - offsetof(vem_event_chunk_t, link));
        touch(c->data, c->size);
    }
    return size % 13 != 12;
}

// Formats every message, so that a wrong argument shows under the sanitizers.
void format_line(int, const char *format, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    touch(buf, strlen(buf));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    if (vem_get_log_func() != &format_line)
        vem_set_log_func(&format_line, 7);
    const uint8_t flags = data[0];
    const vem_app_id_t any = {};
    vem_opaque_events_callbacks_t cbs{&on_event, (flags & 1) ? &on_chunks : nullptr, nullptr};
    vem_opaque_events_extractor_t *x = vem_opaque_events_extractor_create((flags & 2) ? &any : &kApp, &cbs);
    if (!x)
        return 0;
    vem_type_def_lookup_t lk{&lookup, nullptr};
    size_t at = 1;
    for (int pages = 0; pages < 8 && size - at >= 2; ++pages) {
        uint16_t len;
        memcpy(&len, data + at, 2);
        at += 2;
        if (len > size - at)
            len = static_cast<uint16_t>(size - at);
        if (len >= 16) {
            uint8_t *page = static_cast<uint8_t *>(malloc(len));
            memcpy(page, data + at, len);
            uint64_t total = len;
            memcpy(page + 8, &total, sizeof total);
            vem_opaque_events_extractor_process_data_page(x, reinterpret_cast<const vem_data_page_t *>(page), &lk);
            free(page);
        }
        at += len;
    }
    vem_opaque_events_extractor_delete(x);
    return 0;
}
