// Reference decoder of doorbell buffers for differential fuzzing and the benchmark.
#pragma once

#include "engine/plugins/in_raw_msgpack/event_decoder.h"

namespace enginetest {

// Same contract as engine::decode_events, built on the library's object decoder.
engine::DecodeOutcome reference_decode_events(const uint8_t *data, size_t size,
                                              engine::EventTime arrival, std::string &out);

} // namespace enginetest
