// MessagePack buffers of small events for the engine benchmarks.
#pragma once

#include <msgpack.h>

#include <string>

namespace enginebench {

// One event [seconds, {"msg": text, "n": i}] per record, about 64 bytes each, until the
// buffer reaches `target` bytes (at least one event).
inline std::string small_events(size_t target) {
    msgpack_sbuffer sb;
    msgpack_sbuffer_init(&sb);
    msgpack_packer pk;
    msgpack_packer_init(&pk, &sb, msgpack_sbuffer_write);
    const std::string text(40, 'm');
    for (unsigned i = 0; sb.size == 0 || sb.size + 64 <= target; ++i) {
        msgpack_pack_array(&pk, 2);
        msgpack_pack_uint32(&pk, 1700000000u + i);
        msgpack_pack_map(&pk, 2);
        msgpack_pack_str_with_body(&pk, "msg", 3);
        msgpack_pack_str_with_body(&pk, text.data(), text.size());
        msgpack_pack_str_with_body(&pk, "n", 1);
        msgpack_pack_uint32(&pk, i);
    }
    std::string out(sb.data, sb.size);
    msgpack_sbuffer_destroy(&sb);
    return out;
}

} // namespace enginebench
