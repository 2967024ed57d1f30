/* What crosses the doorbell between a caller and the "raw_msgpack" input: the record
 * the input receives as its data argument, the 16-byte request and the 16-byte answer.
 * Both sides share this one declaration. */
#ifndef RAW_MSGPACK_WIRE_H
#define RAW_MSGPACK_WIRE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define RAW_MSGPACK_STATIC_ASSERT(c, m) static_assert(c, m)
extern "C" {
#else
#define RAW_MSGPACK_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif

/* The input's data argument: 8 reserved bytes, then the terminated server path. */
typedef struct raw_input_data {
    uint64_t reserved;
    const char *server_path;
} raw_input_data_t;
RAW_MSGPACK_STATIC_ASSERT(offsetof(raw_input_data_t, reserved) == 0, "reserved");
RAW_MSGPACK_STATIC_ASSERT(offsetof(raw_input_data_t, server_path) == 8, "server_path");
RAW_MSGPACK_STATIC_ASSERT(sizeof(raw_input_data_t) == 16, "raw_input_data_t size");

/* One request: the buffer's size and address; bytes 4 to 7 are padding, never read. */
typedef struct doorbell_msg {
    int32_t size;
    uint32_t padding;
    void *data;
} doorbell_msg_t;
RAW_MSGPACK_STATIC_ASSERT(offsetof(doorbell_msg_t, size) == 0, "size");
RAW_MSGPACK_STATIC_ASSERT(offsetof(doorbell_msg_t, data) == 8, "data");
RAW_MSGPACK_STATIC_ASSERT(sizeof(doorbell_msg_t) == 16, "doorbell_msg_t size");

/* The answer to every request that passed the sender check. status 0: taken;
 * negative: refused (bad size, engine stopping) or rejected (not valid events). An
 * answer of 16 zero bytes therefore means "taken". */
typedef struct raw_msgpack_answer {
    int32_t status;
    uint32_t records; /* records taken from the buffer */
    uint8_t zero[8];
} raw_msgpack_answer_t;
RAW_MSGPACK_STATIC_ASSERT(offsetof(raw_msgpack_answer_t, status) == 0, "status");
RAW_MSGPACK_STATIC_ASSERT(offsetof(raw_msgpack_answer_t, records) == 4, "records");
RAW_MSGPACK_STATIC_ASSERT(sizeof(raw_msgpack_answer_t) == 16, "answer size");

#define RAW_MSGPACK_ACCEPTED 0
#define RAW_MSGPACK_REFUSED (-1)  /* size out of range, or the engine is stopping */
#define RAW_MSGPACK_REJECTED (-2) /* the buffer is not a sequence of valid events */

#ifdef __cplusplus
}
#endif

#endif
