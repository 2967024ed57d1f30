#include "msgpack_scan.h"

#include "engine/core/msgpack_scan.h"

namespace postvane_send {

size_t msgpack_object_length(const uint8_t *data, size_t size) {
    engine::ScanOutcome s = engine::scan_stream_object(data, size, size, engine::kMaxScanDepth);
    return s.status == engine::ScanStatus::Complete ? s.length : 0;
}

} // namespace postvane_send
