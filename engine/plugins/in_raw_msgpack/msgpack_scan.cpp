#include "engine/plugins/in_raw_msgpack/msgpack_scan.h"

namespace engine {

namespace {

// The parts of one header: how many header bytes follow the type byte, then what the
// object holds after them.
struct Header {
    enum Kind { Scalar, Payload, Container, Invalid } kind;
    size_t extra;   // bytes after the type byte before the payload (length, ext type)
    uint64_t count; // Payload: bytes; Container: elements (map: keys and values)
};

uint64_t read_be(const uint8_t *p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

// Decodes the header at data[at]; the bytes of the length field must be in range,
// which the caller has checked with header_length first.
size_t header_length(uint8_t b) {
    switch (b) {
    case 0xc4:
    case 0xd9:
        return 1; // bin8, str8
    case 0xc5:
    case 0xda:
    case 0xdc:
    case 0xde:
        return 2; // bin16, str16, array16, map16
    case 0xc6:
    case 0xdb:
    case 0xdd:
    case 0xdf:
        return 4; // bin32, str32, array32, map32
    case 0xc7:
        return 2; // ext8: length, type
    case 0xc8:
        return 3; // ext16
    case 0xc9:
        return 5; // ext32
    case 0xd4:
    case 0xd5:
    case 0xd6:
    case 0xd7:
    case 0xd8:
        return 1; // fixext: type
    default:
        return 0;
    }
}

Header decode(uint8_t b, const uint8_t *len) {
    if (b <= 0x7f || b >= 0xe0 || b == 0xc0 || b == 0xc2 || b == 0xc3)
        return {Header::Scalar, 0, 0};
    if (b <= 0x8f)
        return {Header::Container, 0, 2ull * (b & 0x0f)};
    if (b <= 0x9f)
        return {Header::Container, 0, static_cast<uint64_t>(b & 0x0f)};
    if (b <= 0xbf)
        return {Header::Payload, 0, static_cast<uint64_t>(b & 0x1f)};
    switch (b) {
    case 0xc4:
    case 0xd9:
        return {Header::Payload, 1, read_be(len, 1)};
    case 0xc5:
    case 0xda:
        return {Header::Payload, 2, read_be(len, 2)};
    case 0xc6:
    case 0xdb:
        return {Header::Payload, 4, read_be(len, 4)};
    case 0xc7:
        return {Header::Payload, 2, read_be(len, 1)};
    case 0xc8:
        return {Header::Payload, 3, read_be(len, 2)};
    case 0xc9:
        return {Header::Payload, 5, read_be(len, 4)};
    case 0xca:
        return {Header::Payload, 0, 4};
    case 0xcb:
        return {Header::Payload, 0, 8};
    case 0xcc:
    case 0xd0:
        return {Header::Payload, 0, 1};
    case 0xcd:
    case 0xd1:
        return {Header::Payload, 0, 2};
    case 0xce:
    case 0xd2:
        return {Header::Payload, 0, 4};
    case 0xcf:
    case 0xd3:
        return {Header::Payload, 0, 8};
    case 0xd4:
        return {Header::Payload, 1, 1};
    case 0xd5:
        return {Header::Payload, 1, 2};
    case 0xd6:
        return {Header::Payload, 1, 4};
    case 0xd7:
        return {Header::Payload, 1, 8};
    case 0xd8:
        return {Header::Payload, 1, 16};
    case 0xdc:
        return {Header::Container, 2, read_be(len, 2)};
    case 0xdd:
        return {Header::Container, 4, read_be(len, 4)};
    case 0xde:
        return {Header::Container, 2, 2 * read_be(len, 2)};
    case 0xdf:
        return {Header::Container, 4, 2 * read_be(len, 4)};
    default:
        return {Header::Invalid, 0, 0}; // 0xc1, never used
    }
}

} // namespace

ScanResult msgpack_scan_object(const uint8_t *data, size_t size, size_t offset) {
    // Elements still expected by each open container, innermost last.
    uint64_t open[kMaxMsgpackDepth];
    int depth = 0;
    size_t at = offset;
    do {
        if (at >= size)
            return {false, 0, at, "truncated: object expected"};
        uint8_t b = data[at];
        size_t len_bytes = header_length(b);
        if (len_bytes > size - at - 1)
            return {false, 0, at, "truncated header"};
        Header h = decode(b, data + at + 1);
        size_t body = at + 1 + h.extra; // within size: checked above
        uint64_t left = size - body;
        switch (h.kind) {
        case Header::Invalid:
            return {false, 0, at, "invalid type byte 0xc1"};
        case Header::Scalar:
            at = body;
            break;
        case Header::Payload:
            if (h.count > left)
                return {false, 0, at, "truncated: declared length exceeds the buffer"};
            at = body + h.count;
            break;
        case Header::Container:
            if (h.count > left)
                return {false, 0, at, "declared element count exceeds the buffer"};
            if (h.count > 0) {
                if (depth == kMaxMsgpackDepth)
                    return {false, 0, at, "nesting too deep"};
                open[depth++] = h.count;
                at = body;
                continue; // complete only once its last element is
            }
            at = body;
            break;
        }
        // The object is complete: it is one element of its container, whose completion
        // in turn counts for the container around it.
        while (depth > 0 && --open[depth - 1] == 0)
            --depth;
    } while (depth > 0);
    return {true, at, 0, nullptr};
}

} // namespace engine
