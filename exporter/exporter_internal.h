// The exporter instance behind the opaque handle of the API table, and the hidden
// functions that the table, the sender and white-box tests share.
#pragma once

#include <netdb.h>
#include <stddef.h>
#include <stdint.h>

#include "events/vem_opaque_events.h"
#include "support/vem_dict.h"

typedef struct vem_nf_exporter {
    int socket_fd;              /* UDP socket towards the collector */
    struct addrinfo *collector; /* resolver's list; only the first entry is used */
    vem_opaque_events_extractor_t *extractor;
    vem_dict_t options;       /* the accepted options, the host's texts */
    uint16_t max_packet_size; /* 0: every event goes out whole */
    uint8_t *packet_buffer;   /* max_packet_size bytes, or NULL */
    uint32_t sequence_number; /* of the next packet the splitting path builds */
} vem_nf_exporter_t;

static_assert(offsetof(vem_nf_exporter_t, socket_fd) == 0, "socket_fd");
static_assert(offsetof(vem_nf_exporter_t, collector) == 8, "collector");
static_assert(offsetof(vem_nf_exporter_t, extractor) == 16, "extractor");
static_assert(offsetof(vem_nf_exporter_t, options) == 24, "options");
static_assert(offsetof(vem_nf_exporter_t, max_packet_size) == 32, "max_packet_size");
static_assert(offsetof(vem_nf_exporter_t, packet_buffer) == 40, "packet_buffer");
static_assert(offsetof(vem_nf_exporter_t, sequence_number) == 48, "sequence_number");
static_assert(sizeof(vem_nf_exporter_t) == 56, "vem_nf_exporter_t size");

/* The only application whose opaque events an exporter takes. */
extern const vem_app_id_t nf_exporter_app_id;

/* The table's slots. create returns NULL when disabled or when creation failed. */
void *vem_nf_exporter_create(vem_dict_t options);
bool vem_nf_exporter_process_data_page(void *exporter, const vem_data_page_t *page,
                                       const vem_type_def_lookup_t *lookup);
vem_dict_t vem_nf_exporter_get_options(void *exporter);

/* The extractor's whole-event callback: sends one event, whole or cut into packets of at
 * most max_packet_size bytes. False when a send failed or the event could not be cut. */
bool vem_nf_exporter_send_event(void *user_data, const char *source, const char *tag,
                                vem_dict_t meta, const vem_app_id_t *app_id, uint64_t value1,
                                uint64_t value2, const void *data, uint32_t size);
