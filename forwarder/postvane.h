/* libpostvane: forwards MessagePack buffers through the embedded log engine.
 *
 * init() builds and starts an engine with the "raw_msgpack" input and one output;
 * add_data() hands one buffer to that input over a 16-byte Unix-datagram doorbell and
 * returns once the input has taken (copied) it; finalize() stops the engine and frees
 * everything. All reporting is plain text on standard output ("[Postvane] ..."). */
#ifndef POSTVANE_H
#define POSTVANE_H

#include <stddef.h>
#include <stdint.h>

#include "raw_msgpack_wire.h" /* raw_input_data_t, doorbell_msg_t, raw_msgpack_answer_t */

#define POSTVANE_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define POSTVANE_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#else
#define POSTVANE_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

struct flb_lib_ctx; /* the engine's context (flb_ctx_t) */

/* One forwarding context. Owned by the library from init() until finalize(). */
typedef struct raw_context {
    char client_path[256];      /* this library's doorbell socket */
    char server_path[256];      /* the input plugin's doorbell socket */
    struct flb_lib_ctx *engine; /* NULL until created */
    int32_t input_handle;       /* -1 until created */
    int32_t output_handle;      /* -1 until created */
    int32_t client_socket;      /* -1 until opened */
    raw_input_data_t input_data; /* the input plugin's data argument */
} raw_context_t;
POSTVANE_STATIC_ASSERT(offsetof(raw_context_t, client_path) == 0, "client_path");
POSTVANE_STATIC_ASSERT(offsetof(raw_context_t, server_path) == 256, "server_path");
POSTVANE_STATIC_ASSERT(offsetof(raw_context_t, engine) == 512, "engine");
POSTVANE_STATIC_ASSERT(offsetof(raw_context_t, input_handle) == 520, "input_handle");
POSTVANE_STATIC_ASSERT(offsetof(raw_context_t, output_handle) == 524, "output_handle");
POSTVANE_STATIC_ASSERT(offsetof(raw_context_t, client_socket) == 528, "client_socket");
POSTVANE_STATIC_ASSERT(offsetof(raw_context_t, input_data) == 536, "input_data");
POSTVANE_STATIC_ASSERT(sizeof(raw_context_t) == 552, "raw_context_t size");

/* One extra output parameter: two terminated strings. */
typedef struct output_plugin_param {
    const char *key;
    const char *value;
} output_plugin_param_t;
POSTVANE_STATIC_ASSERT(offsetof(output_plugin_param_t, key) == 0, "key");
POSTVANE_STATIC_ASSERT(offsetof(output_plugin_param_t, value) == 8, "value");
POSTVANE_STATIC_ASSERT(sizeof(output_plugin_param_t) == 16, "output_plugin_param_t size");

/* `count` consecutive pairs at `items`. The key "tag_match_pair" sets the input's "tag"
 * and the output's "match" to its value. */
typedef struct output_plugin_params {
    int32_t count;
    const output_plugin_param_t *items;
} output_plugin_params_t;
POSTVANE_STATIC_ASSERT(offsetof(output_plugin_params_t, count) == 0, "count");
POSTVANE_STATIC_ASSERT(offsetof(output_plugin_params_t, items) == 8, "items");
POSTVANE_STATIC_ASSERT(sizeof(output_plugin_params_t) == 16, "output_plugin_params_t size");

/* Builds and starts a context. The four strings must not be NULL; an empty string means
 * "not given" (an empty output_plugin means "forward"). output_params may be NULL.
 * label only names the doorbell socket files. Returns NULL on a critical failure (printed),
 * including strings so long that the socket paths would not fit. */
POSTVANE_API raw_context_t *init(const char *output_plugin, const char *host, const char *port,
                                 const output_plugin_params_t *output_params, const char *label);

/* Hands `size` bytes at `data` to the input and waits for its answer; the buffer is the
 * caller's again when this returns. 0: taken (or size 0, nothing sent); -1: NULL context,
 * NULL data with a non-zero size, or the exchange failed or the engine refused or rejected
 * the buffer. Calls on one context must not overlap. */
POSTVANE_API int add_data(raw_context_t *context, void *data, int size);

/* Stops the engine (it flushes what it holds), then frees the context. -1 for NULL, else 0. */
POSTVANE_API int finalize(raw_context_t *context);

/* One doorbell exchange on `socket` with the input bound at context->server_path (the only
 * field read). 1 when an answer of at least 16 bytes came back, else 0; 0 at once when the
 * request could not be sent. */
POSTVANE_API int ring_doorbell(raw_context_t *context, int socket, int size, void *data);

/* Writes "<prefix>_<pid>_<identity>" into out, which must be large enough. */
POSTVANE_API void get_socket_path(const char *prefix, const char *identity, char *out);

#ifdef __cplusplus
}
#endif

#endif
