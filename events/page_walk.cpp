// The page walk: checks the page header, then reads the data area block by block with
// what is left of it, so that no header field or record is read past total_size.
#include "events/page_walk.h"

#include <string.h>

#include "events/opaque_record.h"
#include "events/reassembly.h"
#include "support/vem_log.h"

namespace vem::events {
namespace {

constexpr uint64_t kPageHeader = VEM_DATA_PAGE_HEADER_SIZE;
constexpr uint64_t kBlockHeader = VEM_DATA_BLOCK_HEADER_SIZE;
constexpr uint64_t kRecordHeader = VEM_OPAQUE_EVENT_HEADER_SIZE;
constexpr uint64_t kMaxSigned = static_cast<uint64_t>(INT64_MAX);
constexpr char kOpaquePrefix[] = "opaque_event_";

struct Walk {
    vem_opaque_events_extractor_t *extractor;
    const vem_type_def_lookup_t *lookup;
    PageIdentity page;
    const uint8_t *schemas;  // last schemas block of this page, or NULL
    // Fixed for the extractor's life; loaded once per page for the record loop.
    bool any_app_id;
    uint64_t app_lo, app_hi;
    vem_opaque_events_callbacks_t callbacks;
};

__attribute__((noinline, cold)) void log_block_failed() {
    VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] events block processing failed");
}

__attribute__((noinline, cold)) void log_record_failed() {
    VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Unable to handle a relevant opaque event");
    log_block_failed();
}

// 16 + count * record_size, refused when it does not fit a signed 64-bit length.
bool events_block_length(uint8_t count, uint64_t record_size, uint64_t *length) {
    uint64_t records;
    if (__builtin_mul_overflow(static_cast<uint64_t>(count), record_size, &records) ||
        records > kMaxSigned - kBlockHeader)
        return false;
    *length = kBlockHeader + records;
    return true;
}

OpaqueRecordView view_record(const uint8_t *rec) {
    OpaqueRecordView r;
    r.type = rec[offsetof(vem_opaque_event_t, type)];
    r.offset = load<uint32_t>(rec + offsetof(vem_opaque_event_t, offset));
    r.id = load<uint32_t>(rec + offsetof(vem_opaque_event_t, id));
    r.app_id = reinterpret_cast<const vem_app_id_t *>(rec + offsetof(vem_opaque_event_t, app_id));
    r.value1 = load<uint64_t>(rec + offsetof(vem_opaque_event_t, value1));
    r.value2 = load<uint64_t>(rec + offsetof(vem_opaque_event_t, value2));
    r.data_size = load<uint32_t>(rec + offsetof(vem_opaque_event_t, data_size));
    r.data = rec + kRecordHeader;
    return r;
}

__attribute__((noinline, cold)) void log_foreign_app(const uint8_t *rec, const vem_app_id_t *want) {
    const uint8_t *a = rec + offsetof(vem_opaque_event_t, app_id);
    const uint8_t *b = want->bytes;
    VEM_LOG(VEM_LOG_DEBUG,
            "[opaque events extractor] Not a desired app_id (%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-"
            "%02x%02x%02x%02x%02x%02x!= %02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x), "
            "skipping...",
            a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12], a[13], a[14],
            a[15], b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
            b[14], b[15]);
}

__attribute__((noinline, cold)) bool refuse_data_size(uint32_t data_size, uint64_t max_data) {
    VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Bad opaque event record (data_size %u > %lu)", data_size,
            static_cast<unsigned long>(max_data));
    log_block_failed();
    return false;
}

// Start and chunk records, and unknown types. Kept out of the loop that whole events run.
__attribute__((noinline)) bool handle_other_record(vem_opaque_events_extractor_t *x, PageIdentity page,
                                                   const uint8_t *rec) {
    OpaqueRecordView r = view_record(rec);
    switch (r.type) {
    case VEM_OPAQUE_EVENT_EXTENDED:
        return start_extended_event(x, page, r);
    case VEM_OPAQUE_EVENT_CHUNK:
        return add_event_chunk(x, page, r);
    default:
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Unknown opaque event type: %u",
                static_cast<unsigned>(r.type));
        return false;
    }
}

bool wanted_app(const Walk &w, const uint8_t *rec) {
    const uint8_t *id = rec + offsetof(vem_opaque_event_t, app_id);
    return w.any_app_id || (load<uint64_t>(id) == w.app_lo && load<uint64_t>(id + 8) == w.app_hi);
}

// One record, known to lie inside the data area, with room for max_data bytes of data.
inline bool handle_record(const Walk &w, const uint8_t *rec, uint64_t max_data) {
    const uint32_t data_size = load<uint32_t>(rec + offsetof(vem_opaque_event_t, data_size));
    // The filter comes first: records of other applications are skipped whatever they hold.
    if (!wanted_app(w, rec)) {
        log_foreign_app(rec, &w.extractor->app_id);
    } else {
        if (data_size > max_data)
            return refuse_data_size(data_size, max_data);
        bool ok;
        if (rec[offsetof(vem_opaque_event_t, type)] == VEM_OPAQUE_EVENT_WHOLE) {
            // Whole events go out as they lie in the page: no copy.
            ok = w.callbacks.event_cb(
                w.callbacks.user_data, w.page.source, w.page.tag, nullptr,
                reinterpret_cast<const vem_app_id_t *>(rec + offsetof(vem_opaque_event_t, app_id)),
                load<uint64_t>(rec + offsetof(vem_opaque_event_t, value1)),
                load<uint64_t>(rec + offsetof(vem_opaque_event_t, value2)), rec + kRecordHeader, data_size);
        } else {
            ok = handle_other_record(w.extractor, w.page, rec);
        }
        if (!ok) {
            log_record_failed();
            return false;
        }
    }
    VEM_LOG(VEM_LOG_DEBUG, "[opaque events extractor] event of %u bytes extracted", data_size);
    return true;
}

// An events block with `remaining` bytes of data area from its start. On success
// *length is the block's length, which for a block of another type may pass `remaining`.
bool process_events_block(const Walk &w, const uint8_t *block, uint64_t remaining, uint64_t *length) {
    if (remaining < kBlockHeader) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Bad opaque event block (%lu < %ld)",
                static_cast<unsigned long>(remaining), static_cast<long>(kBlockHeader));
        log_block_failed();
        return false;
    }
    uint8_t schema_index = block[offsetof(vem_data_block_header_t, schema_index)];
    uint16_t type_index = load<uint16_t>(block + offsetof(vem_data_block_header_t, type_index));
    uint8_t count = block[offsetof(vem_data_block_header_t, record_count)];

    const vem_type_def_t *def = w.lookup->get_type_definition(w.lookup->user_data, w.schemas, block);
    if (!def || !def->name) {
        VEM_LOG(VEM_LOG_ERROR,
                "[opaque events extractor] Unable to get type_definition for schema_index:%u type_index:%u",
                static_cast<unsigned>(schema_index), static_cast<unsigned>(type_index));
        log_block_failed();
        return false;
    }
    uint64_t record_size = def->record_size;
    // At most 13 characters, stopping at the first difference (a shorter name differs).
    if (strncmp(def->name, kOpaquePrefix, sizeof kOpaquePrefix - 1) != 0) {
        VEM_LOG(VEM_LOG_DEBUG, "[opaque events extractor] %s is not an opaque data page. Skipping.", def->name);
        if (!events_block_length(count, record_size, length)) {
            log_block_failed();
            return false;
        }
        return true;
    }
    if (count == 0) {
        *length = kBlockHeader;
        return true;
    }
    if (record_size < kRecordHeader) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Bad opaque event block (record_size %lu < %lu)",
                static_cast<unsigned long>(record_size), static_cast<unsigned long>(kRecordHeader));
        log_block_failed();
        return false;
    }
    // The records that lie inside the data area are handled in order; the first one
    // that does not fails the block after them.
    const uint64_t fit = (remaining - kBlockHeader) / record_size;
    const unsigned inside = count <= fit ? count : static_cast<unsigned>(fit);
    const uint64_t max_data = record_size - kRecordHeader;
    const uint8_t *rec = block + kBlockHeader;
    for (unsigned i = 0; i < inside; ++i, rec += record_size)
        if (!handle_record(w, rec, max_data))
            return false;
    if (inside < count) {
        // The end of the first record outside, shown as at most the largest signed length.
        uint64_t end;
        if (__builtin_add_overflow(kBlockHeader + inside * record_size, record_size, &end) || end > kMaxSigned)
            end = kMaxSigned;
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Bad opaque event block (%lu < %ld)",
                static_cast<unsigned long>(remaining), static_cast<long>(end));
        log_block_failed();
        return false;
    }
    *length = kBlockHeader + count * record_size;
    return true;
}

// A schemas block's length must cover its header and stay inside the data area.
bool schemas_block_length(const uint8_t *block, uint64_t remaining, uint64_t *length) {
    if (remaining < kBlockHeader) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Bad schemas block (%lu < %ld)",
                static_cast<unsigned long>(remaining), static_cast<long>(kBlockHeader));
        return false;
    }
    uint16_t len = load<uint16_t>(block + offsetof(vem_data_block_header_t, length));
    if (len < kBlockHeader) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Bad schemas block length %u",
                static_cast<unsigned>(len));
        return false;
    }
    if (len > remaining) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Bad schemas block (%lu < %ld)",
                static_cast<unsigned long>(remaining), static_cast<long>(len));
        return false;
    }
    *length = len;
    return true;
}

bool has_nul(const char *field, size_t width) { return memchr(field, 0, width) != nullptr; }

}  // namespace

bool walk_page(vem_opaque_events_extractor_t *x, const vem_data_page_t *page,
               const vem_type_def_lookup_t *lookup) {
    const uint8_t *base = reinterpret_cast<const uint8_t *>(page);
    if (base[offsetof(vem_data_page_t, version)] != 1 || base[offsetof(vem_data_page_t, revision)] < 7) {
        VEM_LOG(VEM_LOG_WARNING, "[opaque events extractor] Received incompatible data page. Skipping.");
        return false;
    }
    // total_size is the page's size by the host contract; nothing at or past it is read.
    uint64_t total = load<uint64_t>(base + offsetof(vem_data_page_t, total_size));
    if (total < kPageHeader) {
        VEM_LOG(VEM_LOG_WARNING,
                "[opaque events extractor] Received data page shorter than its header (total=%lu). Skipping.",
                static_cast<unsigned long>(total));
        return false;
    }
    if (!has_nul(page->source, sizeof page->source) || !has_nul(page->tag, sizeof page->tag)) {
        VEM_LOG(VEM_LOG_WARNING,
                "[opaque events extractor] Received data page with unterminated source or tag. Skipping.");
        return false;
    }
    uint64_t filled = load<uint64_t>(base + offsetof(vem_data_page_t, filled_size));
    if (filled == kPageHeader) {
        VEM_LOG(VEM_LOG_WARNING, "[opaque events extractor] Received empty data page. Skipping.");
        return false;
    }
    const uint64_t size = total - kPageHeader;
    const uint8_t *area = base + kPageHeader;
    Walk w{x, lookup, {page->source, page->tag}, nullptr, x->any_app_id, load<uint64_t>(x->app_id.bytes),
           load<uint64_t>(x->app_id.bytes + 8), x->callbacks};
    uint64_t processed = 0;
    while (processed < size) {
        const uint64_t remaining = size - processed;
        const uint8_t *block = area + processed;
        if (remaining < sizeof(vem_magic_value_t)) {
            // Too short for a magic: like a zero-filled remainder, it ends the walk.
            VEM_LOG(VEM_LOG_DEBUG,
                    "[opaque events extractor] %lu bytes too short for a block (filled=%lu, processed=%lu, total=%lu)",
                    static_cast<unsigned long>(remaining), static_cast<unsigned long>(filled),
                    static_cast<unsigned long>(processed), static_cast<unsigned long>(size));
            return true;
        }
        vem_data_block_type_t type = vem_data_block_get_type(reinterpret_cast<const vem_magic_value_t *>(block));
        uint64_t length;
        switch (type) {
        case VEM_EVENTS_BLOCK:
            if (!process_events_block(w, block, remaining, &length))
                return false;
            break;
        case VEM_SCHEMAS_BLOCK:
            VEM_LOG(VEM_LOG_DEBUG, "[opaque events extractor] VEM_SCHEMAS_BLOCK found");
            if (!schemas_block_length(block, remaining, &length))
                return false;
            w.schemas = block;
            break;
        case VEM_COUNTERS_BLOCK:
            VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] unexpected VEM_COUNTERS_BLOCK found");
            return false;
        default:
            VEM_LOG(VEM_LOG_DEBUG,
                    "[opaque events extractor] unexpected block type %d (filled=%lu, processed=%lu, total=%lu)",
                    static_cast<int>(type), static_cast<unsigned long>(filled),
                    static_cast<unsigned long>(processed), static_cast<unsigned long>(size));
            return true;
        }
        // A skipped block of another type may claim more than is left: the walk ends.
        if (length >= remaining)
            return true;
        processed += length;
    }
    return true;
}

}  // namespace vem::events
