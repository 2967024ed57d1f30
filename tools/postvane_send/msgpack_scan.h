// Finds where one MessagePack object of the input ends, without decoding it, with the
// engine's bounded pre-scan: hostile input can neither make it read past the end nor
// nest without limit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace postvane_send {

// Length of the complete object at data[0..size), or 0 when it is truncated or invalid.
size_t msgpack_object_length(const uint8_t *data, size_t size);

} // namespace postvane_send
