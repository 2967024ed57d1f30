// Turns a caller's buffer of MessagePack events into engine records. The buffer is a
// concatenation of events, each one of
//   [time, record]                   time: integer seconds, float, or EventTime
//   [[time, metadata], record]       the newer layout, metadata a map
//   record                           a bare map, stamped with the arrival time
// where record is a map and EventTime is ext type 0 with big-endian uint32 seconds and
// uint32 nanoseconds. Records are appended as [[EventTime, metadata], record].
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace engine {

struct EventTime {
    uint32_t sec;
    uint32_t nsec;
};

struct DecodeOutcome {
    bool ok = false;
    size_t records = 0;
    size_t error_at = 0;  // !ok: byte offset in the buffer
    char reason[96] = {}; // !ok: why the buffer was rejected
};

// Validates the whole buffer first: on any fault nothing is appended, and out keeps its
// former content. Never reads outside data[0, size).
DecodeOutcome decode_events(const uint8_t *data, size_t size, EventTime arrival, std::string &out);

} // namespace engine
