// The identity of a context and the names of its two doorbell socket files.
//
// The identity joins the label, output plugin, host, port (each replaced by a stand-in
// when empty) and the context's address; the process id is added in the paths. Paths are
// therefore distinct per live context and per process, as long as nothing is cut short:
// a too long identity or path is refused rather than truncated, since two truncated paths
// could collide.
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "postvane_internal.h"

namespace postvane {
namespace {

const char *given_or(const char *value, const char *stand_in) {
    return value[0] != '\0' ? value : stand_in;
}

} // namespace

bool build_socket_paths(raw_context_t *context, const char *output_plugin, const char *host,
                        const char *port, const char *label) {
    char identity[kMaxIdentity + 1] = {};
    int length = snprintf(identity, sizeof identity, "%s_%s_%s_%s_%p", given_or(label, "-"),
                          given_or(output_plugin, "defPlugin"), given_or(host, "defHost"),
                          given_or(port, "defPort"), static_cast<void *>(context));
    if (length < 0 || static_cast<size_t>(length) > kMaxIdentity) {
        print_out("[Postvane] critical: socket identity of %d characters exceeds %zu; "
                  "shorten the label, output plugin, host or port\n",
                   length, kMaxIdentity);
        return false;
    }
    // Prefix, pid and the bounded identity always fit the 256-byte fields; what must be
    // checked is the room in a socket address.
    get_socket_path("/tmp/fb_sock_client", identity, context->client_path);
    get_socket_path("/tmp/fb_sock_server", identity, context->server_path);
    size_t longest = strlen(context->client_path);
    if (strlen(context->server_path) > longest)
        longest = strlen(context->server_path);
    if (longest > kMaxSocketPath) {
        print_out("[Postvane] critical: doorbell socket path of %zu characters exceeds %zu; "
                  "shorten the label, output plugin, host or port\n",
                   longest, kMaxSocketPath);
        return false;
    }
    return true;
}

} // namespace postvane

extern "C" void get_socket_path(const char *prefix, const char *identity, char *out) {
    sprintf(out, "%s_%d_%s", prefix, static_cast<int>(getpid()), identity);
}
