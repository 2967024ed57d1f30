// Extended events: a start record announces an event, chunk records carry its payload
// in order; the event is kept per (source, tag) of the pages that carry it until its last
// chunk arrives and is then delivered to the extractor's callback.
#pragma once

#include "events/opaque_record.h"
#include "events/vem_opaque_events.h"

namespace vem::events {

// One event in progress (the messages call it source info).
struct vem_event_source_info_t {
    char source[64];
    char tag[16];
    vem_dict_t meta;
    uint32_t received;  // payload bytes taken so far
    uint32_t id;
    vem_app_id_t app_id;
    uint64_t value1;
    uint64_t value2;
    uint32_t size;      // announced payload size
    union {
        uint8_t *buffer;          // single-buffer mode: `size` bytes
        vem_list_node_t chunks;   // chunk-list mode: vem_event_chunk_t in payload order
    };
    vem_list_node_t link;         // membership in the extractor's pending list
};

// Starts an event for a start record. False (logged) makes the page fail; an event of
// the same source and tag that was in progress is gone either way.
bool start_extended_event(vem_opaque_events_extractor_t *extractor, const PageIdentity &page,
                          const OpaqueRecordView &record);

// Adds a chunk. False only when it completed the event and the callback returned false;
// chunks that cannot be placed are skipped with a warning and count as success.
bool add_event_chunk(vem_opaque_events_extractor_t *extractor, const PageIdentity &page,
                     const OpaqueRecordView &record);

// Unlinks an event in progress from the pending list and frees all it owns.
void free_source_info(vem_event_source_info_t *info, bool single_buffer);

// Frees every event in progress, front first, without delivering any.
void discard_pending(vem_opaque_events_extractor_t *extractor);

}  // namespace vem::events
