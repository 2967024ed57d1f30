// The forward output reads the receiver's replies (HELO, PONG, acks) and checks chunk
// events with the engine's bounded pre-scan, at the depths below.
#pragma once

#include "engine/core/msgpack_scan.h"

namespace fwd {

using engine::ScanOutcome;
using engine::ScanStatus;
using engine::scan_stream_object;

// Nesting allowed in a reply, and in an event of a chunk (records nest deeper).
constexpr int kMaxReplyDepth = 16;
constexpr int kMaxEventDepth = engine::kMaxScanDepth;

}  // namespace fwd
