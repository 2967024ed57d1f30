// Reassembly of extended events: start records with their meta strings, chunks stored
// into one buffer or a chunk list, delivery when the announced size is reached.
#include "events/reassembly.h"

#include <stdlib.h>
#include <string.h>

#include "events/list.h"
#include "support/vem_dict.h"
#include "support/vem_log.h"

namespace vem::events {
namespace {

vem_event_source_info_t *info_of(vem_list_node_t *node) {
    return list::owner<vem_event_source_info_t>(node, offsetof(vem_event_source_info_t, link));
}

vem_event_chunk_t *chunk_of(vem_list_node_t *node) {
    return list::owner<vem_event_chunk_t>(node, offsetof(vem_event_chunk_t, link));
}

// The first event in progress of the page's source and tag, front first.
vem_event_source_info_t *find_pending(vem_opaque_events_extractor_t *x, const PageIdentity &page) {
    for (vem_list_node_t *n = x->pending.next; n != &x->pending; n = n->next) {
        vem_event_source_info_t *info = info_of(n);
        if (strcmp(info->source, page.source) == 0 && strcmp(info->tag, page.tag) == 0)
            return info;
    }
    return nullptr;
}

// malloc(0) may legally return NULL; a zero-byte payload or chunk still needs a pointer.
void *alloc_bytes(uint32_t size) { return malloc(size ? size : 1); }

// Meta strings "key=value", each ending with a NUL inside the start record's data.
bool read_meta(vem_dict_t meta, const uint8_t *data, uint32_t data_size) {
    uint32_t p = 0;
    while (p < data_size) {
        const char *s = reinterpret_cast<const char *>(data + p);
        const void *nul = memchr(s, 0, data_size - p);
        if (!nul) {
            VEM_LOG(VEM_LOG_ERROR,
                    "[opaque events extractor] Invalid meta event data (string without NUL at offset %u)",
                    p);
            return false;
        }
        size_t n = static_cast<size_t>(static_cast<const char *>(nul) - s);
        const char *eq = static_cast<const char *>(memchr(s, '=', n));
        if (!eq) {
            VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Invaid meta event data (no delimeter)");
            return false;
        }
        if (eq == s) {
            VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Invaid meta event data (no key): %s", s);
            return false;
        }
        size_t key_len = static_cast<size_t>(eq - s);
        char *key = static_cast<char *>(malloc(key_len + 1));
        if (!key) {
            VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Cannot allocate key for %s", s);
            return false;
        }
        memcpy(key, s, key_len);
        key[key_len] = '\0';
        const char *value = eq + 1;
        if (!vem_dict_add(meta, key, value)) {
            VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Cannot add meta pair %s=%s", key, value);
            free(key);
            return false;
        }
        free(key);
        p += static_cast<uint32_t>(n) + 1;
    }
    return true;
}

// Builds the new event; on failure frees what it built and returns NULL (logged).
vem_event_source_info_t *new_source_info(const vem_opaque_events_extractor_t *x,
                                         const PageIdentity &page, const OpaqueRecordView &r) {
    auto *info = static_cast<vem_event_source_info_t *>(calloc(1, sizeof(vem_event_source_info_t)));
    if (!info) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Unable to allocate source info");
        return nullptr;
    }
    memcpy(info->source, page.source, sizeof info->source);
    memcpy(info->tag, page.tag, sizeof info->tag);
    info->meta = vem_dict_create();
    if (!info->meta) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Unable to allocate extended event sinfo's meta");
        free(info);
        return nullptr;
    }
    if (!read_meta(info->meta, r.data, r.data_size)) {
        vem_dict_delete(info->meta);
        free(info);
        return nullptr;
    }
    info->id = r.id;
    memcpy(&info->app_id, r.app_id, sizeof info->app_id);
    info->value1 = r.value1;
    info->value2 = r.value2;
    info->size = r.offset;
    info->received = 0;
    if (x->single_buffer) {
        info->buffer = static_cast<uint8_t *>(alloc_bytes(info->size));
        if (!info->buffer) {
            vem_dict_delete(info->meta);
            free(info);
            return nullptr;
        }
    } else {
        list::init(&info->chunks);
    }
    return info;
}

// Chunk-list mode: appends a heap copy of the chunk; false (logged) when out of memory.
bool store_chunk_node(vem_event_source_info_t *info, const OpaqueRecordView &r) {
    auto *node = static_cast<vem_event_chunk_t *>(malloc(sizeof(vem_event_chunk_t)));
    if (!node) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Unable to allocate extended event chunk");
        return false;
    }
    node->data = alloc_bytes(r.data_size);
    if (!node->data) {
        VEM_LOG(VEM_LOG_ERROR,
                "[opaque events extractor] Unable to allocate extended event chunk data buffer of %u bytes",
                r.data_size);
        free(node);
        return false;
    }
    memcpy(node->data, r.data, r.data_size);
    node->size = r.data_size;
    list::push_back(&info->chunks, &node->link);
    return true;
}

bool deliver(vem_opaque_events_extractor_t *x, const PageIdentity &page, vem_event_source_info_t *info) {
    const vem_opaque_events_callbacks_t &cb = x->callbacks;
    bool ok = x->single_buffer
                  ? cb.event_cb(cb.user_data, page.source, page.tag, info->meta, &info->app_id,
                                info->value1, info->value2, info->buffer, info->received)
                  : cb.chunks_cb(cb.user_data, page.source, page.tag, info->meta, &info->app_id,
                                 info->value1, info->value2, info->received, &info->chunks);
    free_source_info(info, x->single_buffer);
    return ok;
}

}  // namespace

bool start_extended_event(vem_opaque_events_extractor_t *x, const PageIdentity &page,
                          const OpaqueRecordView &r) {
    // The old event goes first, so a start that then fails leaves none for this source.
    if (vem_event_source_info_t *old = find_pending(x, page)) {
        VEM_LOG(VEM_LOG_WARNING,
                "[opaque events extractor] unfinished event deleted (src=%s tag=%s id=%u offs=%u size=%u)",
                page.source, page.tag, old->id, old->received, old->size);
        free_source_info(old, x->single_buffer);
    }
    vem_event_source_info_t *info = new_source_info(x, page, r);
    if (!info) {
        VEM_LOG(VEM_LOG_ERROR, "[opaque events extractor] Unable to allocate source info");
        return false;
    }
    list::push_front(&x->pending, &info->link);
    return true;
}

bool add_event_chunk(vem_opaque_events_extractor_t *x, const PageIdentity &page,
                     const OpaqueRecordView &r) {
    vem_event_source_info_t *info = find_pending(x, page);
    if (!info) {
        VEM_LOG(VEM_LOG_WARNING, "[opaque events extractor] Chunk event from unknown source: %s:%s. Skipped",
                page.source, page.tag);
        return true;
    }
    if (r.id != info->id) {
        VEM_LOG(VEM_LOG_WARNING, "[opaque events extractor] Chunk event with unknown id %u. Skipped", r.id);
        return true;
    }
    if (r.offset != info->received) {
        VEM_LOG(VEM_LOG_WARNING, "[opaque events extractor] Chunk event with bad offset %u!=%u. Skipped",
                r.offset, info->received);
        free_source_info(info, x->single_buffer);
        return true;
    }
    // Single-buffer mode must not write past the announced size; in chunk-list mode the
    // count of received bytes must not wrap around to the announced size.
    uint32_t room = x->single_buffer ? info->size - info->received : UINT32_MAX - info->received;
    if (r.data_size > room) {
        VEM_LOG(VEM_LOG_WARNING,
                "[opaque events extractor] Chunk event of %u bytes at offset %u passes the event size %u. Skipped",
                r.data_size, r.offset, info->size);
        free_source_info(info, x->single_buffer);
        return true;
    }
    if (x->single_buffer) {
        memcpy(info->buffer + info->received, r.data, r.data_size);
    } else if (!store_chunk_node(info, r)) {
        VEM_LOG(VEM_LOG_WARNING, "[opaque events extractor] Cannot allocate a extended event chunk. Skipped...");
        free_source_info(info, x->single_buffer);
        return true;
    }
    info->received += r.data_size;
    if (info->received != info->size)
        return true;
    return deliver(x, page, info);
}

void free_source_info(vem_event_source_info_t *info, bool single_buffer) {
    list::unlink(&info->link);
    if (single_buffer) {
        free(info->buffer);
    } else {
        while (!list::empty(&info->chunks)) {
            vem_list_node_t *n = info->chunks.next;
            list::unlink(n);
            vem_event_chunk_t *chunk = chunk_of(n);
            free(chunk->data);
            free(chunk);
        }
    }
    vem_dict_delete(info->meta);
    free(info);
}

void discard_pending(vem_opaque_events_extractor_t *x) {
    while (!list::empty(&x->pending))
        free_source_info(info_of(x->pending.next), x->single_buffer);
}

}  // namespace vem::events
