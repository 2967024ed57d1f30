// The bounded pre-scan of untrusted MessagePack bytes: doorbell buffers, the forward
// receiver's replies, chunk events, the sender tool's input. It measures one object
// without building anything and checks every declared length against `limit`, the most
// bytes the object may ever occupy: strings, binaries and extensions need their whole
// payload, arrays and maps at least one byte per declared element, so no declared length
// can ask for more than the input may hold. Nesting is limited too. Only bytes that pass
// are shown to a MessagePack library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// The big-endian unsigned integer in the n (at most 8) bytes at p, as MessagePack
// stores lengths, counts and EventTime fields.
inline uint64_t read_be(const uint8_t *p, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | p[i];
    return v;
}

// Nesting allowed in one doorbell event; below the decoding library's own limit.
constexpr int kMaxMsgpackDepth = 24;
// The deepest nesting any caller may ask for.
constexpr int kMaxScanDepth = 32;

enum class ScanStatus { Complete, Incomplete, Invalid };

struct ScanOutcome {
    ScanStatus status;
    size_t length;      // Complete: bytes of the object
    size_t error_at;    // Invalid: offset of the offending byte
    const char *reason; // Invalid: what is wrong there
};

// Scans the object at data[0..available) of a stream. `limit` >= available bounds every
// declared length: a length beyond it is Invalid at once, one within it but beyond the
// bytes received so far is Incomplete ("read more"). With limit == available the bytes
// are all there is and the result is never Incomplete. max_depth is capped at
// kMaxScanDepth.
ScanOutcome scan_stream_object(const uint8_t *data, size_t available, size_t limit, int max_depth);

struct ScanResult {
    bool ok;
    size_t end;         // ok: offset just past the object
    size_t error_at;    // !ok: offset of the offending byte
    const char *reason; // !ok: what is wrong there
};

// Scans the one object that starts at data[offset] of a complete buffer of `size` bytes,
// nesting at most kMaxMsgpackDepth, reading nothing at or past size.
ScanResult msgpack_scan_object(const uint8_t *data, size_t size, size_t offset);

} // namespace engine
