// Allocation and release of a forwarding context. One release path serves a failed
// init and finalize alike: each step undoes only what was set up.
#include <unistd.h>

#include <cstdlib>

#include "pv_engine.h"
#include "postvane_internal.h"

namespace postvane {

raw_context_t *raw_context_new() {
    auto *context = static_cast<raw_context_t *>(calloc(1, sizeof(raw_context_t)));
    if (context == nullptr)
        return nullptr;
    context->input_handle = -1;
    context->output_handle = -1;
    context->client_socket = -1;
    return context;
}

void raw_context_free(raw_context_t *context) {
    if (context->client_socket != -1) {
        close(context->client_socket);
        unlink(context->client_path);
    }
    if (context->engine != nullptr)
        flb_destroy(context->engine);
    free(context);
}

} // namespace postvane
