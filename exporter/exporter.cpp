// Exporter instances: creation from the host's options, page forwarding, destruction.
#include <errno.h>
#include <netdb.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "exporter/exporter_internal.h"
#include "exporter/vem_exporter.h"
#include "support/vem_log.h"
#include "support/vem_numbers.h"

const vem_app_id_t nf_exporter_app_id = {{0x99, 0x10, 0xc1, 0x28, 0x39, 0x61, 0x47, 0xe6, 0xbe,
                                          0x6c, 0x71, 0x5a, 0x0f, 0x03, 0xad, 0xd6}};

namespace {

constexpr const char *kAddrKey = "netflow-collector-addr";
constexpr const char *kPortKey = "netflow-collector-port";
constexpr const char *kMaxPacketKey = "netflow-max-packet-size";

// Smallest accepted maximum packet size; leaves room for a header, a template and records.
constexpr uint16_t kMinMaxPacketSize = 300;

// The one release path of an exporter, for a failed creation and for destroy alike:
// every field is released only when it was acquired, in the documented order.
void release(vem_nf_exporter_t *e) {
    if (e->socket_fd >= 0)
        close(e->socket_fd);
    if (e->collector)
        freeaddrinfo(e->collector);
    if (e->extractor)
        vem_opaque_events_extractor_delete(e->extractor);
    if (e->options)
        vem_dict_delete(e->options);
    free(e->packet_buffer);
    free(e);
}

bool fill_options(vem_dict_t options, const char *addr, const char *port, const char *max_packet) {
    if (!vem_dict_add(options, kAddrKey, addr))
        return false;
    if (!vem_dict_add(options, kPortKey, port))
        return false;
    return !max_packet || vem_dict_add(options, kMaxPacketKey, max_packet);
}

// Resolves the collector and opens an unconnected UDP socket of the first entry's family.
bool set_collector(vem_nf_exporter_t *e, const char *addr, const char *port) {
    struct addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_flags = AI_NUMERICSERV;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = 0;
    // The resolver takes a numeric port modulo 65536 ("99999" would become 34463), so a
    // port beyond 16 bits is refused as unresolvable before it is asked.
    uint16_t port_number = 0;
    if (!string_to_u16(port, &port_number) || getaddrinfo(addr, port, &hints, &e->collector) != 0) {
        e->collector = nullptr;
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] unable to resolve address (%s:%s)", addr, port);
        return false;
    }
    const struct addrinfo *first = e->collector;
    e->socket_fd = socket(first->ai_family, first->ai_socktype, first->ai_protocol);
    if (e->socket_fd < 0) {
        int error = errno;
        freeaddrinfo(e->collector);
        e->collector = nullptr;
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] unable to create socket (%d)", error);
        return false;
    }
    return true;
}

} // namespace

void *vem_nf_exporter_create(vem_dict_t options) {
    const char *addr = vem_dict_get(options, kAddrKey);
    const char *port = vem_dict_get(options, kPortKey);
    const char *max_packet = vem_dict_get(options, kMaxPacketKey);
    if (!addr) {
        VEM_LOG(VEM_LOG_INFO,
                "[NetFlow Exporter] Disabled by configuration (no netflow-collector-addr)");
        return nullptr;
    }
    if (!port) {
        VEM_LOG(VEM_LOG_INFO,
                "[NetFlow Exporter] Disabled by configuration (no netflow-collector-port)");
        return nullptr;
    }

    auto *e = static_cast<vem_nf_exporter_t *>(calloc(1, sizeof(vem_nf_exporter_t)));
    if (!e) {
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Unable to allocate exporter");
        return nullptr;
    }
    e->socket_fd = -1; // nothing opened yet: the release path must not close descriptor 0

    e->options = vem_dict_create();
    if (!e->options) {
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Unable to create custom options");
        release(e);
        return nullptr;
    }
    if (!fill_options(e->options, addr, port, max_packet)) {
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Unable to fill custom options");
        release(e);
        return nullptr;
    }

    vem_opaque_events_callbacks_t callbacks;
    callbacks.event_cb = vem_nf_exporter_send_event;
    callbacks.chunks_cb = nullptr; // extended events arrive assembled in one buffer
    callbacks.user_data = e;
    e->extractor = vem_opaque_events_extractor_create(&nf_exporter_app_id, &callbacks);
    if (!e->extractor) {
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Unable to allocate opaque events exporter");
        release(e);
        return nullptr;
    }

    if (!set_collector(e, addr, port)) {
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Unable to set collector %s:%s", addr, port);
        release(e);
        return nullptr;
    }
    VEM_LOG(VEM_LOG_INFO, "[NetFlow Exporter] collector address set to %s:%s", addr, port);

    if (!max_packet)
        return e;

    uint16_t size = 0;
    if (!string_to_u16(max_packet, &size) || size < kMinMaxPacketSize) {
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Invalid max_packet_size (%s)", max_packet);
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Unable to set max packet size %s", max_packet);
        release(e);
        return nullptr;
    }
    e->max_packet_size = size;
    e->packet_buffer = static_cast<uint8_t *>(malloc(size));
    if (!e->packet_buffer) {
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Cannot allocate packet buffer of %u bytes",
                static_cast<unsigned>(size));
        VEM_LOG(VEM_LOG_ERROR, "[NetFlow Exporter] Unable to set max packet size %s", max_packet);
        release(e);
        return nullptr;
    }
    e->sequence_number = 0;
    return e;
}

bool vem_nf_exporter_process_data_page(void *exporter, const vem_data_page_t *page,
                                       const vem_type_def_lookup_t *lookup) {
    if (!exporter)
        return false;
    auto *e = static_cast<vem_nf_exporter_t *>(exporter);
    return vem_opaque_events_extractor_process_data_page(e->extractor, page, lookup);
}

vem_dict_t vem_nf_exporter_get_options(void *exporter) {
    return exporter ? static_cast<vem_nf_exporter_t *>(exporter)->options : nullptr;
}

extern "C" {

VEM_API void _vem_nf_exporter_destroy(void *exporter) {
    if (exporter)
        release(static_cast<vem_nf_exporter_t *>(exporter));
}

} // extern "C"
