// Byte helpers for the NetFlow v9 wire format (big-endian) and the record digest that
// the host and the collector compute independently.
#pragma once

#include <cstddef>
#include <cstdint>

namespace demo {

inline void put_be16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void put_be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline uint32_t get_be16(const uint8_t *p) {
    return (uint32_t{p[0]} << 8) | p[1];
}
inline uint32_t get_be32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// FNV-1a of one record. Records are summed, so the digest of a run of records does not
// depend on the order in which they arrive.
inline uint64_t record_digest(const uint8_t *p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}

constexpr uint32_t kNetflowHeaderSize = 20;
constexpr uint32_t kSourceId = 0x00005e01;

} // namespace demo
