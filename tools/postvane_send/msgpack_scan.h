// Finds where one MessagePack object ends, without decoding it: every declared length is
// checked against the bytes that remain and nesting is bounded, so that hostile input can
// neither make the scan read past the end nor recurse without limit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace postvane_send {

// Length of the complete object at data[0..size), or 0 when it is truncated or invalid.
size_t msgpack_object_length(const uint8_t *data, size_t size);

} // namespace postvane_send
