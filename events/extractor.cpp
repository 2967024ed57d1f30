// The extractor's C interface: creation, deletion and the page call.
#include <stdlib.h>
#include <string.h>

#include "events/list.h"
#include "events/page_walk.h"
#include "events/reassembly.h"
#include "events/vem_opaque_events.h"
#include "support/vem_log.h"

namespace {

bool all_zero(const vem_app_id_t &id) {
    for (uint8_t b : id.bytes)
        if (b)
            return false;
    return true;
}

}  // namespace

extern "C" {

VEM_API vem_opaque_events_extractor_t *vem_opaque_events_extractor_create(
    const vem_app_id_t *app_id, const vem_opaque_events_callbacks_t *callbacks) {
    if (!app_id || !callbacks || !callbacks->event_cb) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] cannot create extractor without app_id and event_cb");
        return nullptr;
    }
    auto *x = static_cast<vem_opaque_events_extractor_t *>(malloc(sizeof(vem_opaque_events_extractor_t)));
    if (!x) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] cannot allocate extractor");
        return nullptr;
    }
    memset(x, 0, sizeof *x);
    memcpy(&x->app_id, app_id, sizeof x->app_id);
    x->any_app_id = all_zero(x->app_id);
    x->callbacks = *callbacks;
    x->single_buffer = callbacks->chunks_cb == nullptr;
    vem::list::init(&x->pending);
    return x;
}

VEM_API void vem_opaque_events_extractor_delete(vem_opaque_events_extractor_t *extractor) {
    if (!extractor)
        return;
    vem::events::discard_pending(extractor);
    free(extractor);
}

VEM_API bool vem_opaque_events_extractor_process_data_page(vem_opaque_events_extractor_t *extractor,
                                                           const vem_data_page_t *page,
                                                           const vem_type_def_lookup_t *lookup) {
    if (!extractor || !page || !lookup || !lookup->get_type_definition) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] page call without extractor, page or lookup");
        return false;
    }
    return vem::events::walk_page(extractor, page, lookup);
}

}  // extern "C"
