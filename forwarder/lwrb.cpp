// The byte ring buffer. Each side stores only its own index and loads the other's with
// acquire order, so one writer thread and one reader thread may work at the same time:
// the release store of an index publishes the bytes copied before it.
#include "forwarder/lwrb.h"

#include <cstring>

namespace {

size_t load_index(const size_t *index) { return __atomic_load_n(index, __ATOMIC_ACQUIRE); }
void store_index(size_t *index, size_t value) { __atomic_store_n(index, value, __ATOMIC_RELEASE); }

bool ready(const lwrb_ring_t *ring) {
    return ring != nullptr && ring->guard_head == LWRB_GUARD_HEAD &&
           ring->guard_tail == LWRB_GUARD_TAIL && ring->buffer != nullptr && ring->size != 0;
}

size_t held(size_t size, size_t r, size_t w) { return w >= r ? w - r : size - r + w; }

size_t room(size_t size, size_t r, size_t w) {
    if (w == r)
        return size - 1;
    if (r > w)
        return r - w - 1;
    return size - (w - r) - 1;
}

// Moves an index on by n <= size - 1 (a skip or an advance).
size_t moved(size_t size, size_t index, size_t n) {
    index += n;
    return index >= size ? index - size : index;
}

// Copies n bytes that start at `from` out of the ring, in at most two pieces.
void copy_out(const lwrb_ring_t *ring, size_t from, uint8_t *out, size_t n) {
    size_t first = n < ring->size - from ? n : ring->size - from;
    memcpy(out, ring->buffer + from, first);
    if (n > first)
        memcpy(out + first, ring->buffer, n - first);
}

void notify(lwrb_ring_t *ring, lwrb_event_t event, size_t count) {
    if (ring->event_fn != nullptr)
        ring->event_fn(ring, event, count);
}

} // namespace

extern "C" {

int lwrb_init(lwrb_ring_t *ring, void *buffer, size_t size) {
    if (ring == nullptr || buffer == nullptr || size == 0)
        return 0;
    memset(ring, 0, sizeof *ring);
    ring->buffer = static_cast<uint8_t *>(buffer);
    ring->size = size;
    ring->guard_head = LWRB_GUARD_HEAD;
    ring->guard_tail = LWRB_GUARD_TAIL;
    return 1;
}

int lwrb_is_ready(const lwrb_ring_t *ring) { return ready(ring) ? 1 : 0; }

void lwrb_free(lwrb_ring_t *ring) {
    if (ready(ring))
        ring->buffer = nullptr;
}

void lwrb_set_evt_fn(lwrb_ring_t *ring, lwrb_event_fn_t fn) {
    if (ready(ring))
        ring->event_fn = fn;
}

size_t lwrb_write(lwrb_ring_t *ring, const void *data, size_t count) {
    if (!ready(ring) || data == nullptr || count == 0)
        return 0;
    const size_t w = load_index(&ring->write_index);
    const size_t r = load_index(&ring->read_index);
    const size_t free_room = room(ring->size, r, w);
    const size_t n = count < free_room ? count : free_room;
    if (n == 0)
        return 0;
    const auto *in = static_cast<const uint8_t *>(data);
    const size_t first = n < ring->size - w ? n : ring->size - w;
    memcpy(ring->buffer + w, in, first);
    size_t next;
    if (n > first) {
        memcpy(ring->buffer, in + first, n - first);
        next = n - first;
    } else {
        next = w + first == ring->size ? 0 : w + first;
    }
    store_index(&ring->write_index, next);
    notify(ring, LWRB_EVENT_WRITE, n);
    return n;
}

size_t lwrb_read(lwrb_ring_t *ring, void *data, size_t count) {
    if (!ready(ring) || data == nullptr || count == 0)
        return 0;
    const size_t r = load_index(&ring->read_index);
    const size_t w = load_index(&ring->write_index);
    const size_t full = held(ring->size, r, w);
    const size_t n = count < full ? count : full;
    if (n == 0)
        return 0;
    copy_out(ring, r, static_cast<uint8_t *>(data), n);
    const size_t first = n < ring->size - r ? n : ring->size - r;
    const size_t next = n > first ? n - first : (r + first == ring->size ? 0 : r + first);
    store_index(&ring->read_index, next);
    notify(ring, LWRB_EVENT_READ, n);
    return n;
}

size_t lwrb_peek(const lwrb_ring_t *ring, size_t skip, void *data, size_t count) {
    if (!ready(ring) || data == nullptr || count == 0)
        return 0;
    const size_t r = load_index(&ring->read_index);
    const size_t w = load_index(&ring->write_index);
    const size_t full = held(ring->size, r, w);
    if (skip >= full)
        return 0;
    const size_t from = moved(ring->size, r, skip);
    const size_t n = count < full - skip ? count : full - skip;
    copy_out(ring, from, static_cast<uint8_t *>(data), n);
    return n;
}

size_t lwrb_skip(lwrb_ring_t *ring, size_t count) {
    if (!ready(ring) || count == 0)
        return 0;
    const size_t r = load_index(&ring->read_index);
    const size_t full = held(ring->size, r, load_index(&ring->write_index));
    const size_t n = count < full ? count : full;
    store_index(&ring->read_index, moved(ring->size, r, n));
    notify(ring, LWRB_EVENT_READ, n);
    return n;
}

size_t lwrb_advance(lwrb_ring_t *ring, size_t count) {
    if (!ready(ring) || count == 0)
        return 0;
    const size_t w = load_index(&ring->write_index);
    const size_t free_room = room(ring->size, load_index(&ring->read_index), w);
    const size_t n = count < free_room ? count : free_room;
    store_index(&ring->write_index, moved(ring->size, w, n));
    notify(ring, LWRB_EVENT_WRITE, n);
    return n;
}

size_t lwrb_get_free(const lwrb_ring_t *ring) {
    if (!ready(ring))
        return 0;
    const size_t w = load_index(&ring->write_index);
    return room(ring->size, load_index(&ring->read_index), w);
}

size_t lwrb_get_full(const lwrb_ring_t *ring) {
    if (!ready(ring))
        return 0;
    const size_t r = load_index(&ring->read_index);
    return held(ring->size, r, load_index(&ring->write_index));
}

void lwrb_reset(lwrb_ring_t *ring) {
    if (!ready(ring))
        return;
    store_index(&ring->write_index, 0);
    store_index(&ring->read_index, 0);
    notify(ring, LWRB_EVENT_RESET, 0);
}

void *lwrb_get_linear_block_read_address(const lwrb_ring_t *ring) {
    if (!ready(ring))
        return nullptr;
    return ring->buffer + load_index(&ring->read_index);
}

size_t lwrb_get_linear_block_read_length(const lwrb_ring_t *ring) {
    if (!ready(ring))
        return 0;
    const size_t r = load_index(&ring->read_index);
    const size_t w = load_index(&ring->write_index);
    if (w > r)
        return w - r;
    if (w < r)
        return ring->size - r;
    return 0;
}

void *lwrb_get_linear_block_write_address(const lwrb_ring_t *ring) {
    if (!ready(ring))
        return nullptr;
    return ring->buffer + load_index(&ring->write_index);
}

size_t lwrb_get_linear_block_write_length(const lwrb_ring_t *ring) {
    if (!ready(ring))
        return 0;
    const size_t w = load_index(&ring->write_index);
    const size_t r = load_index(&ring->read_index);
    if (w >= r)
        return ring->size - w - (r == 0 ? 1 : 0);
    return r - w - 1;
}

} // extern "C"
