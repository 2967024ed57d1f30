// Fuzz target of the doorbell buffer decoder. Any bytes are either rejected with nothing
// appended, or accepted as records that (1) equal, object for object, what the reference
// decoder built on the MessagePack library's object decoder makes of them, and (2) the
// "stdout" renderer reads back one line per record. Both decoders must agree on
// accepting or rejecting.
#include <msgpack.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "engine/fuzz/reference_decoder.h"
#include "engine/plugins/in_raw_msgpack/event_decoder.h"
#include "engine/plugins/out_stdout/json_lines.h"

namespace {

// The events of a sequence packed again by the library: equal objects give equal bytes
// (also NaN, which never compares equal as a number).
std::string canonical(const std::string &events) {
    msgpack_sbuffer sb;
    msgpack_sbuffer_init(&sb);
    msgpack_packer pk;
    msgpack_packer_init(&pk, &sb, msgpack_sbuffer_write);
    msgpack_zone zone;
    msgpack_zone_init(&zone, 4096);
    size_t at = 0;
    while (at < events.size()) {
        msgpack_object o;
        msgpack_unpack_return r = msgpack_unpack(events.data(), events.size(), &at, &zone, &o);
        if (r != MSGPACK_UNPACK_SUCCESS && r != MSGPACK_UNPACK_EXTRA_BYTES)
            abort();
        msgpack_pack_object(&pk, o);
        msgpack_zone_clear(&zone);
    }
    std::string out(sb.data ? sb.data : "", sb.size);
    msgpack_zone_destroy(&zone);
    msgpack_sbuffer_destroy(&sb);
    return out;
}

bool same_events(const std::string &a, const std::string &b) {
    return canonical(a) == canonical(b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string out = "kept";
    engine::DecodeOutcome r = engine::decode_events(data, size, {1, 2}, out);
    std::string reference;
    engine::DecodeOutcome ref = enginetest::reference_decode_events(data, size, {1, 2}, reference);
    if (r.ok != ref.ok || r.records != ref.records)
        abort();
    if (!r.ok) {
        if (out != "kept" || r.records != 0 || r.error_at > size || r.reason[0] == '\0')
            abort();
        return 0;
    }
    if (r.records == 0 || out.size() <= 4 || !same_events(out.substr(4), reference))
        abort();
    engine::Chunk chunk{"t", 1, out.data() + 4, out.size() - 4, r.records};
    std::string json;
    if (!engine::render_json_lines(chunk, json))
        abort();
    size_t lines = 0;
    for (char c : json)
        lines += c == '\n';
    if (lines != r.records)
        abort();
    return 0;
}
