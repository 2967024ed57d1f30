// What the page walk hands to the reassembly: the page's identity and the fields of one
// opaque event record, loaded from the packed record with memcpy.
#pragma once

#include <stdint.h>
#include <string.h>

#include "events/vem_opaque_events.h"

namespace vem::events {

template <typename T>
inline T load(const uint8_t *p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The page's source and tag fields (64 and 16 bytes), each known to hold a NUL.
struct PageIdentity {
    const char *source;
    const char *tag;
};

struct OpaqueRecordView {
    uint8_t type;
    uint32_t offset;
    uint32_t id;
    const vem_app_id_t *app_id;  // points into the page
    uint64_t value1;
    uint64_t value2;
    uint32_t data_size;          // checked to fit into the record
    const uint8_t *data;         // points into the page
};

}  // namespace vem::events
