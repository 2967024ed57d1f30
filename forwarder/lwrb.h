/* A byte ring buffer over caller-supplied storage.
 *
 * The ring holds at most size - 1 bytes (one byte stays empty so that a full ring never
 * looks empty), copies in and out with at most two memcpy calls, offers zero-copy access
 * to the next contiguous readable or writable stretch, allocates nothing and locks
 * nothing. One thread may write (lwrb_write, lwrb_advance) while one other thread reads
 * (lwrb_read, lwrb_skip, lwrb_peek): each side stores only its own index, once, after its
 * copy, with release order, and loads the other side's index with acquire order.
 * lwrb_init, lwrb_free and lwrb_reset change the whole record and must not overlap other
 * calls. Every function on a ring that is not ready does nothing and returns 0 (NULL). */
#ifndef LWRB_H
#define LWRB_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define LWRB_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#else
#define LWRB_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

#define LWRB_API __attribute__((visibility("default")))

#define LWRB_GUARD_HEAD 0xDEADBEEFu
#define LWRB_GUARD_TAIL 0x21524110u /* ~LWRB_GUARD_HEAD */

typedef enum lwrb_event {
    LWRB_EVENT_READ = 0,  /* bytes read or skipped */
    LWRB_EVENT_WRITE = 1, /* bytes written or advanced */
    LWRB_EVENT_RESET = 2, /* both indexes set to 0 */
} lwrb_event_t;

struct lwrb_ring;
/* Called on the calling thread after the index was stored. */
typedef void (*lwrb_event_fn_t)(struct lwrb_ring *ring, lwrb_event_t event, size_t count);

typedef struct lwrb_ring {
    uint32_t guard_head;     /* LWRB_GUARD_HEAD while set up */
    uint8_t *buffer;         /* the caller's storage; NULL once released */
    size_t size;             /* bytes in buffer */
    size_t read_index;       /* next byte to read; accessed atomically */
    size_t write_index;      /* next byte to write; accessed atomically */
    lwrb_event_fn_t event_fn; /* NULL: no events */
    uint32_t guard_tail;     /* LWRB_GUARD_TAIL while set up */
} lwrb_ring_t;
LWRB_STATIC_ASSERT(offsetof(lwrb_ring_t, guard_head) == 0, "guard_head");
LWRB_STATIC_ASSERT(offsetof(lwrb_ring_t, buffer) == 8, "buffer");
LWRB_STATIC_ASSERT(offsetof(lwrb_ring_t, size) == 16, "size");
LWRB_STATIC_ASSERT(offsetof(lwrb_ring_t, read_index) == 24, "read_index");
LWRB_STATIC_ASSERT(offsetof(lwrb_ring_t, write_index) == 32, "write_index");
LWRB_STATIC_ASSERT(offsetof(lwrb_ring_t, event_fn) == 40, "event_fn");
LWRB_STATIC_ASSERT(offsetof(lwrb_ring_t, guard_tail) == 48, "guard_tail");
LWRB_STATIC_ASSERT(sizeof(lwrb_ring_t) == 56, "lwrb_ring_t size");

/* 1, or 0 (record untouched) when ring or buffer is NULL or size is 0. */
LWRB_API int lwrb_init(lwrb_ring_t *ring, void *buffer, size_t size);
/* 1 when ring is set up with storage, else 0. */
LWRB_API int lwrb_is_ready(const lwrb_ring_t *ring);
/* Forgets the storage (not freed: it is the caller's); the ring is then not ready. */
LWRB_API void lwrb_free(lwrb_ring_t *ring);
/* fn may be NULL (no events). */
LWRB_API void lwrb_set_evt_fn(lwrb_ring_t *ring, lwrb_event_fn_t fn);

/* Copies up to count bytes in; returns the bytes written (limited by the free room). */
LWRB_API size_t lwrb_write(lwrb_ring_t *ring, const void *data, size_t count);
/* Copies up to count bytes out; returns the bytes read. */
LWRB_API size_t lwrb_read(lwrb_ring_t *ring, void *data, size_t count);
/* Copies up to count bytes out, starting skip bytes past the read index; consumes nothing. */
LWRB_API size_t lwrb_peek(const lwrb_ring_t *ring, size_t skip, void *data, size_t count);
/* Drops up to count bytes; the READ event fires even when nothing was held. */
LWRB_API size_t lwrb_skip(lwrb_ring_t *ring, size_t count);
/* Commits up to count bytes put at the linear write address; the WRITE event always fires. */
LWRB_API size_t lwrb_advance(lwrb_ring_t *ring, size_t count);

LWRB_API size_t lwrb_get_free(const lwrb_ring_t *ring);
LWRB_API size_t lwrb_get_full(const lwrb_ring_t *ring);
/* Empties the ring (the stored bytes are not touched); fires the RESET event. */
LWRB_API void lwrb_reset(lwrb_ring_t *ring);

/* Zero-copy access: read the stretch and lwrb_skip() it, or fill one and lwrb_advance(). */
LWRB_API void *lwrb_get_linear_block_read_address(const lwrb_ring_t *ring);
LWRB_API size_t lwrb_get_linear_block_read_length(const lwrb_ring_t *ring);
LWRB_API void *lwrb_get_linear_block_write_address(const lwrb_ring_t *ring);
LWRB_API size_t lwrb_get_linear_block_write_length(const lwrb_ring_t *ring);

#ifdef __cplusplus
}
#endif

#endif
