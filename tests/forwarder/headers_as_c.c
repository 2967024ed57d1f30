/* libpostvane's public headers in a strict C11 translation unit; the layouts that C
 * sees are handed to the C++ side of the test for comparison. */
#include "lwrb.h"
#include "postvane.h"

size_t c_layout_of(int what) {
    switch (what) {
    case 0: return sizeof(raw_context_t);
    case 1: return offsetof(raw_context_t, input_data);
    case 2: return sizeof(output_plugin_params_t);
    case 3: return sizeof(output_plugin_param_t);
    case 4: return sizeof(lwrb_ring_t);
    case 5: return offsetof(lwrb_ring_t, guard_tail);
    case 6: return sizeof(doorbell_msg_t);
    case 7: return sizeof(raw_input_data_t);
    default: return 0;
    }
}

/* The prototypes are callable from C as declared. */
int c_calls_link(void) {
    lwrb_ring_t ring;
    unsigned char storage[4];
    char out[64];
    get_socket_path("/tmp/x", "y", out);
    return lwrb_init(&ring, storage, sizeof storage) == 1 && add_data(NULL, storage, 1) == -1 &&
           finalize(NULL) == -1;
}
