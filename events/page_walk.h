// The walk over one data page: header checks, blocks in order, records of opaque events
// blocks handed to the callbacks or to the reassembly.
#pragma once

#include "events/vem_opaque_events.h"

namespace vem::events {

bool walk_page(vem_opaque_events_extractor_t *extractor, const vem_data_page_t *page,
               const vem_type_def_lookup_t *lookup);

}  // namespace vem::events
