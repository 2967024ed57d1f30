#include "engine/core/msgpack_scan.h"

namespace engine {

namespace {

struct Head {
    size_t header;     // bytes of the type byte and its length field
    uint64_t payload;  // bytes that follow the header (strings, bins, exts, scalars)
    uint64_t children; // elements that follow (arrays: n, maps: 2n)
};

// The size of the length field that follows type byte `t`, and the fixed part of the
// payload: returns -1 for the never-used byte 0xc1.
int length_field(uint8_t t, Head *h) {
    h->payload = 0;
    h->children = 0;
    h->header = 1;
    if (t <= 0x7f || t >= 0xe0 || t == 0xc0 || t == 0xc2 || t == 0xc3)
        return 0;
    if (t >= 0x80 && t <= 0x8f) {
        h->children = 2ull * (t & 0x0f);
        return 0;
    }
    if (t >= 0x90 && t <= 0x9f) {
        h->children = t & 0x0f;
        return 0;
    }
    if (t >= 0xa0 && t <= 0xbf) {
        h->payload = t & 0x1f;
        return 0;
    }
    switch (t) {
    case 0xc4: case 0xd9: return 1;  // bin8, str8
    case 0xc5: case 0xda: return 2;
    case 0xc6: case 0xdb: return 4;
    case 0xc7: h->payload = 1; return 1;  // ext8/16/32: the type byte, then the data
    case 0xc8: h->payload = 1; return 2;
    case 0xc9: h->payload = 1; return 4;
    case 0xca: h->payload = 4; return 0;
    case 0xcb: h->payload = 8; return 0;
    case 0xcc: case 0xd0: h->payload = 1; return 0;
    case 0xcd: case 0xd1: h->payload = 2; return 0;
    case 0xce: case 0xd2: h->payload = 4; return 0;
    case 0xcf: case 0xd3: h->payload = 8; return 0;
    case 0xd4: h->payload = 2; return 0;
    case 0xd5: h->payload = 3; return 0;
    case 0xd6: h->payload = 5; return 0;
    case 0xd7: h->payload = 9; return 0;
    case 0xd8: h->payload = 17; return 0;
    case 0xdc: case 0xde: return 2;
    case 0xdd: case 0xdf: return 4;
    default: return -1;  // 0xc1
    }
}

}  // namespace

ScanOutcome scan_stream_object(const uint8_t *data, size_t available, size_t limit, int max_depth) {
    if (limit < available)
        limit = available;
    uint64_t pending[kMaxScanDepth + 1];
    if (max_depth > kMaxScanDepth)
        max_depth = kMaxScanDepth;
    int depth = 0;
    pending[0] = 1;
    size_t pos = 0;
    auto invalid = [](size_t at, const char *why) { return ScanOutcome{ScanStatus::Invalid, 0, at, why}; };
    auto more = [&](uint64_t need_end) {
        return need_end > limit ? invalid(pos, "declared length beyond the bytes allowed")
                                : ScanOutcome{ScanStatus::Incomplete, 0, 0, nullptr};
    };

    for (;;) {
        while (pending[depth] == 0) {
            if (depth == 0)
                return ScanOutcome{ScanStatus::Complete, pos, 0, nullptr};
            --depth;
        }
        --pending[depth];
        if (pos >= available)
            return more(uint64_t(pos) + 1);
        uint8_t t = data[pos];
        Head h;
        int field = length_field(t, &h);
        if (field < 0)
            return invalid(pos, "never-used byte 0xc1");
        if (uint64_t(pos) + 1 + field > available)
            return more(uint64_t(pos) + 1 + field);
        uint64_t declared = field ? read_be(data + pos + 1, field) : 0;
        h.header = 1 + field;
        bool container = (t >= 0x80 && t <= 0x9f) || (t >= 0xdc && t <= 0xdf);
        if (container) {
            if (field)
                h.children = (t == 0xde || t == 0xdf) ? 2 * declared : declared;
        } else {
            h.payload += declared;
        }
        uint64_t body = uint64_t(pos) + h.header;
        // Each element takes at least one byte, so a count is bounded like a length.
        uint64_t need = container ? body + h.children : body + h.payload;
        if (need > limit)
            return invalid(pos, container ? "declared element count beyond the bytes allowed"
                                          : "declared length beyond the bytes allowed");
        if (!container) {
            if (need > available)
                return ScanOutcome{ScanStatus::Incomplete, 0, 0, nullptr};
            pos = static_cast<size_t>(need);
            continue;
        }
        pos = static_cast<size_t>(body);
        if (h.children == 0)
            continue;
        if (depth + 1 > max_depth)
            return invalid(pos - h.header, "nesting too deep");
        pending[++depth] = h.children;
    }
}

ScanResult msgpack_scan_object(const uint8_t *data, size_t size, size_t offset) {
    if (offset >= size)
        return {false, 0, offset, "truncated: object expected"};
    size_t n = size - offset;
    ScanOutcome s = scan_stream_object(data + offset, n, n, kMaxMsgpackDepth);
    if (s.status == ScanStatus::Complete)
        return {true, offset + s.length, 0, nullptr};
    return {false, 0, offset + s.error_at, s.reason ? s.reason : "truncated object"};
}

} // namespace engine
