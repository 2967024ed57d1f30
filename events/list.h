// Intrusive circular doubly linked lists over vem_list_node_t. A list is a sentinel
// node that points at itself while empty; elements embed a node and are found from it
// by the member's offset.
#pragma once

#include <stddef.h>

#include "events/vem_opaque_events.h"

namespace vem::list {

inline void init(vem_list_node_t *sentinel) {
    sentinel->next = sentinel;
    sentinel->prev = sentinel;
}

inline bool empty(const vem_list_node_t *sentinel) { return sentinel->next == sentinel; }

inline void insert_after(vem_list_node_t *at, vem_list_node_t *node) {
    node->prev = at;
    node->next = at->next;
    at->next->prev = node;
    at->next = node;
}

inline void push_front(vem_list_node_t *sentinel, vem_list_node_t *node) {
    insert_after(sentinel, node);
}

inline void push_back(vem_list_node_t *sentinel, vem_list_node_t *node) {
    insert_after(sentinel->prev, node);
}

inline void unlink(vem_list_node_t *node) {
    node->prev->next = node->next;
    node->next->prev = node->prev;
    node->next = node;
    node->prev = node;
}

// The element that embeds `node` as its member at byte offset `member_offset`.
template <typename T>
T *owner(vem_list_node_t *node, size_t member_offset) {
    return reinterpret_cast<T *>(reinterpret_cast<char *>(node) - member_offset);
}

}  // namespace vem::list
