#include "msgpack_scan.h"

namespace postvane_send {
namespace {

constexpr int kMaxDepth = 64;

uint64_t big_endian(const uint8_t *p, int width) {
    uint64_t v = 0;
    for (int i = 0; i < width; ++i)
        v = v << 8 | p[i];
    return v;
}

// Skips one object starting at `at`; returns the offset after it, or 0 on failure.
size_t skip(const uint8_t *data, size_t size, size_t at, int depth) {
    if (depth > kMaxDepth || at >= size)
        return 0;
    const uint8_t type = data[at++];
    const size_t left = size - at;
    uint64_t payload = 0; // bytes that follow the header
    uint64_t children = 0; // objects that follow the header
    auto header = [&](int width) -> bool {
        if (left < static_cast<size_t>(width))
            return false;
        payload = big_endian(data + at, width);
        at += width;
        return true;
    };
    if (type <= 0x7f || type >= 0xe0 || type == 0xc0 || type == 0xc2 || type == 0xc3) {
        // fixint, nil, false, true
    } else if (type >= 0x80 && type <= 0x8f) {
        children = 2u * (type & 0x0f);
    } else if (type >= 0x90 && type <= 0x9f) {
        children = type & 0x0f;
    } else if (type >= 0xa0 && type <= 0xbf) {
        payload = type & 0x1f;
    } else {
        switch (type) {
        case 0xc4: case 0xd9: if (!header(1)) return 0; break;              // bin8, str8
        case 0xc5: case 0xda: if (!header(2)) return 0; break;              // bin16, str16
        case 0xc6: case 0xdb: if (!header(4)) return 0; break;              // bin32, str32
        case 0xc7: if (!header(1)) return 0; payload += 1; break;           // ext8 (+type)
        case 0xc8: if (!header(2)) return 0; payload += 1; break;           // ext16
        case 0xc9: if (!header(4)) return 0; payload += 1; break;           // ext32
        case 0xca: payload = 4; break;                                      // float32
        case 0xcb: payload = 8; break;                                      // float64
        case 0xcc: case 0xd0: payload = 1; break;
        case 0xcd: case 0xd1: payload = 2; break;
        case 0xce: case 0xd2: payload = 4; break;
        case 0xcf: case 0xd3: payload = 8; break;
        case 0xd4: payload = 2; break; // fixext1 (+type)
        case 0xd5: payload = 3; break;
        case 0xd6: payload = 5; break;
        case 0xd7: payload = 9; break;
        case 0xd8: payload = 17; break;
        case 0xdc: if (!header(2)) return 0; children = payload; payload = 0; break;
        case 0xdd: if (!header(4)) return 0; children = payload; payload = 0; break;
        case 0xde: if (!header(2)) return 0; children = 2 * payload; payload = 0; break;
        case 0xdf: if (!header(4)) return 0; children = 2 * payload; payload = 0; break;
        default: return 0; // 0xc1 is never used
        }
    }
    if (payload > size - at)
        return 0;
    at += payload;
    // Every child needs at least one byte: a huge declared count fails here, unscanned.
    if (children > size - at)
        return 0;
    for (uint64_t i = 0; i < children; ++i) {
        at = skip(data, size, at, depth + 1);
        if (at == 0)
            return 0;
    }
    return at;
}

} // namespace

size_t msgpack_object_length(const uint8_t *data, size_t size) {
    return skip(data, size, 0, 0);
}

} // namespace postvane_send
