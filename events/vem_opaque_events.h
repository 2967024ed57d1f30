/* The opaque events extractor: walks data pages, keeps the opaque events of one
 * application and hands each complete event, whole or reassembled from chunks, to a
 * callback. */
#ifndef VEM_OPAQUE_EVENTS_H
#define VEM_OPAQUE_EVENTS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#include "events/vem_data_page.h"
#include "support/vem_dict.h"
#include "support/vem_export.h"

VEM_BEGIN_DECLS

/* Application id in GUID form, compared as raw bytes. */
typedef struct vem_app_id {
    uint8_t bytes[16];
} vem_app_id_t;
VEM_STATIC_ASSERT(sizeof(vem_app_id_t) == 16, "vem_app_id_t size");

/* Link of an intrusive circular doubly linked list; a list is a sentinel node that
 * points at itself in both fields while empty. */
typedef struct vem_list_node {
    struct vem_list_node *next;
    struct vem_list_node *prev;
} vem_list_node_t;
VEM_STATIC_ASSERT(offsetof(vem_list_node_t, next) == 0, "next");
VEM_STATIC_ASSERT(offsetof(vem_list_node_t, prev) == 8, "prev");
VEM_STATIC_ASSERT(sizeof(vem_list_node_t) == 16, "vem_list_node_t size");

/* One stored chunk handed to a chunk-list callback; reach it from its link. */
typedef struct vem_event_chunk {
    void *data;
    uint32_t size;
    vem_list_node_t link;
} vem_event_chunk_t;
VEM_STATIC_ASSERT(offsetof(vem_event_chunk_t, data) == 0, "data");
VEM_STATIC_ASSERT(offsetof(vem_event_chunk_t, size) == 8, "size");
VEM_STATIC_ASSERT(offsetof(vem_event_chunk_t, link) == 16, "link");
VEM_STATIC_ASSERT(sizeof(vem_event_chunk_t) == 32, "vem_event_chunk_t size");

typedef enum vem_opaque_event_type {
    VEM_OPAQUE_EVENT_WHOLE = 0,
    VEM_OPAQUE_EVENT_EXTENDED = 1,
    VEM_OPAQUE_EVENT_CHUNK = 2
} vem_opaque_event_type_t;

/* One record of an "opaque_event_" events block; packed, machine byte order. A record
 * occupies the type's record_size bytes whatever its data_size. */
typedef struct __attribute__((packed)) vem_opaque_event {
    uint8_t reserved_0[8];
    uint8_t type;        /* vem_opaque_event_type_t */
    uint32_t offset;     /* chunk: offset in payload; start record: total payload size */
    uint32_t id;         /* ties chunks to their start record */
    vem_app_id_t app_id;
    uint64_t value1;
    uint64_t value2;
    uint32_t data_size;
    uint8_t data[];
} vem_opaque_event_t;
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, type) == 8, "type");
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, offset) == 9, "offset");
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, id) == 13, "id");
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, app_id) == 17, "app_id");
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, value1) == 33, "value1");
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, value2) == 41, "value2");
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, data_size) == 49, "data_size");
VEM_STATIC_ASSERT(offsetof(vem_opaque_event_t, data) == 53, "data");
VEM_STATIC_ASSERT(sizeof(vem_opaque_event_t) == 53, "vem_opaque_event_t header size");

#define VEM_OPAQUE_EVENT_HEADER_SIZE 53

/* Whole events and, without a chunk-list callback, assembled extended events. For a
 * whole event app_id and data point into the page and meta is NULL. Every pointer is
 * valid only during the call. False makes the page call fail. */
typedef bool (*vem_opaque_event_cb)(void *user_data, const char *source, const char *tag,
                                    vem_dict_t meta, const vem_app_id_t *app_id,
                                    uint64_t value1, uint64_t value2, const void *data,
                                    uint32_t size);
/* Complete extended events as a list of vem_event_chunk_t in payload order. */
typedef bool (*vem_opaque_event_chunks_cb)(void *user_data, const char *source,
                                           const char *tag, vem_dict_t meta,
                                           const vem_app_id_t *app_id, uint64_t value1,
                                           uint64_t value2, uint32_t size,
                                           vem_list_node_t *chunks);

typedef struct vem_opaque_events_callbacks {
    vem_opaque_event_cb event_cb;         /* required */
    vem_opaque_event_chunks_cb chunks_cb; /* NULL: extended events arrive in one buffer */
    void *user_data;
} vem_opaque_events_callbacks_t;
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_callbacks_t, event_cb) == 0, "event_cb");
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_callbacks_t, chunks_cb) == 8, "chunks_cb");
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_callbacks_t, user_data) == 16, "user_data");
VEM_STATIC_ASSERT(sizeof(vem_opaque_events_callbacks_t) == 24, "callbacks size");

/* The host's type definition; the extractor reads name and record_size only. */
typedef struct vem_type_def {
    uint64_t word_0;
    const char *name;       /* "opaque_event_..." for opaque event records */
    uint64_t word_2;
    uint64_t word_3;
    uint64_t record_size;   /* bytes per record */
} vem_type_def_t;
VEM_STATIC_ASSERT(offsetof(vem_type_def_t, name) == 8, "name");
VEM_STATIC_ASSERT(offsetof(vem_type_def_t, record_size) == 32, "record_size");
VEM_STATIC_ASSERT(sizeof(vem_type_def_t) == 40, "vem_type_def_t size");

/* The host's lookup, passed with every page. schemas_block is the last schemas block
 * met earlier in the same page, or NULL. */
typedef struct vem_type_def_lookup {
    const vem_type_def_t *(*get_type_definition)(void *user_data, const void *schemas_block,
                                                 const void *events_block);
    void *user_data;
} vem_type_def_lookup_t;
VEM_STATIC_ASSERT(offsetof(vem_type_def_lookup_t, get_type_definition) == 0, "get_type_definition");
VEM_STATIC_ASSERT(offsetof(vem_type_def_lookup_t, user_data) == 8, "user_data");
VEM_STATIC_ASSERT(sizeof(vem_type_def_lookup_t) == 16, "vem_type_def_lookup_t size");

typedef struct vem_opaque_events_extractor {
    bool single_buffer;     /* no chunk-list callback: assemble into one buffer */
    bool any_app_id;        /* app_id is all zero: accept every application */
    vem_app_id_t app_id;
    vem_list_node_t pending; /* extended events in progress */
    vem_opaque_events_callbacks_t callbacks;
} vem_opaque_events_extractor_t;
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_extractor_t, single_buffer) == 0, "single_buffer");
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_extractor_t, any_app_id) == 1, "any_app_id");
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_extractor_t, app_id) == 2, "app_id");
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_extractor_t, pending) == 24, "pending");
VEM_STATIC_ASSERT(offsetof(vem_opaque_events_extractor_t, callbacks) == 40, "callbacks");
VEM_STATIC_ASSERT(sizeof(vem_opaque_events_extractor_t) == 64, "extractor size");

/* NULL when the allocation fails (logged). Neither argument is kept. */
VEM_API vem_opaque_events_extractor_t *vem_opaque_events_extractor_create(
    const vem_app_id_t *app_id, const vem_opaque_events_callbacks_t *callbacks);
/* Discards pending extended events without delivery, then frees the extractor. */
VEM_API void vem_opaque_events_extractor_delete(vem_opaque_events_extractor_t *extractor);
/* True when the page was walked; false when refused or a failure stopped the walk.
 * The page must stay readable and unchanged for the call, over its whole total_size
 * bytes: the extractor trusts total_size as the page's size (the host contract) and
 * reads nothing at or past it. Its first 16 bytes (version, revision, total_size) are
 * read before the size is known. Pages outside the format are refused with false and a
 * message: total_size below the 720-byte header, a source or tag without NUL in its
 * field, an events or schemas block header cut off by the end of the page, a schemas
 * length below 16 or past the page, an opaque record size below 53, a record past the
 * page, a data_size that does not fit into its record. */
VEM_API bool vem_opaque_events_extractor_process_data_page(
    vem_opaque_events_extractor_t *extractor, const vem_data_page_t *page,
    const vem_type_def_lookup_t *lookup);

VEM_END_DECLS

#endif
