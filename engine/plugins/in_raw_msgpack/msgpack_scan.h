// A bounded pre-scan of untrusted MessagePack bytes. It walks one object without
// building anything, and checks every declared length against the bytes that remain:
// strings, binaries and extensions need their whole payload, arrays and maps at least
// one byte per declared element, so no declared length can ask for more than the input
// holds. Nesting is limited as well. Only bytes that pass are shown to a MessagePack
// library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace engine {

// Nested arrays and maps allowed in one object; below the decoding library's own limit.
constexpr int kMaxMsgpackDepth = 24;

struct ScanResult {
    bool ok;
    size_t end;         // ok: offset just past the object
    size_t error_at;    // !ok: offset of the offending byte
    const char *reason; // !ok: what is wrong there
};

// Scans the one object that starts at data[offset], reading nothing at or past size.
ScanResult msgpack_scan_object(const uint8_t *data, size_t size, size_t offset);

} // namespace engine
