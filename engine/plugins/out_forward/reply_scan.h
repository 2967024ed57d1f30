// Bounded pre-scan of MessagePack bytes that arrive on a stream (the receiver's HELO,
// PONG and acks) or sit in a chunk. It measures one object without building anything.
// Every declared length is checked against `limit`, the most bytes the object may ever
// occupy: strings, binaries and extensions need their whole payload, arrays and maps at
// least one byte per declared element. A length beyond the limit is invalid at once;
// a length within it but beyond the bytes received so far means "read more". Nesting is
// limited too. Only objects that pass are shown to the MessagePack library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fwd {

// Nesting allowed in a reply, and in an event of a chunk (records nest deeper).
constexpr int kMaxReplyDepth = 16;
constexpr int kMaxEventDepth = 32;

enum class ScanStatus { Complete, Incomplete, Invalid };

struct ScanOutcome {
    ScanStatus status;
    size_t length;       // Complete: bytes of the object
    size_t error_at;     // Invalid: offset of the offending byte
    const char *reason;  // Invalid: what is wrong there
};

// Scans the object at data[0..available). `limit` >= available bounds every declared
// length; pass limit == available for bytes that are all there is.
ScanOutcome scan_stream_object(const uint8_t *data, size_t available, size_t limit, int max_depth);

}  // namespace fwd
