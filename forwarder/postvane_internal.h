// Functions shared between libpostvane's sources; none of them is exported.
#pragma once

#include <sys/types.h>

#include "postvane.h"

namespace postvane {

// Longest socket path that fits the 108-byte path area of a Unix address with its terminator.
constexpr size_t kMaxSocketPath = 107;
// Longest identity that fits its 128-byte buffer with its terminator.
constexpr size_t kMaxIdentity = 127;

// Allocates a zeroed context with the engine, the handles and the socket unset; NULL when
// out of memory.
raw_context_t *raw_context_new();
// Closes the client socket and removes its file, destroys the engine, frees the record.
// The server path is the input's and is left alone.
void raw_context_free(raw_context_t *context);

// Builds the context's identity and both socket paths (client first). False, with a
// critical line printed, when the identity or a path would be too long to be used whole.
bool build_socket_paths(raw_context_t *context, const char *output_plugin, const char *host,
                        const char *port, const char *label);

// A bound client socket at context->client_path, or -1 (printed).
int open_client_socket(raw_context_t *context);

// One doorbell exchange: sends the 16-byte request to context->server_path and receives
// the answer into `answer`. Returns the length the receive gave (a longer datagram is cut
// to 16), or -1 when the request could not be sent or the receive failed. An interrupted
// send or receive is retried, so that an answer still in flight is never left behind for
// the next exchange to take.
ssize_t doorbell_exchange(const raw_context_t *context, int socket, int size, void *data,
                          unsigned char (&answer)[16]);

// Prints to standard output and flushes at once, so that messages keep their order with
// the engine's own output on the same stream.
void print_out(const char *format, ...) __attribute__((format(printf, 1, 2)));

} // namespace postvane
