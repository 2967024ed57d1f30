// MessagePack events in the three shapes the input takes, built from JSON records:
// [time, record], [[time, metadata], record] and a bare record; time as integer
// seconds, a float, or EventTime (ext type 0: big-endian seconds and nanoseconds).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace forwarder_test {

using Bytes = std::vector<uint8_t>;
using nlohmann::json;

inline json event_time(uint32_t seconds, uint32_t nanoseconds) {
    Bytes b(8);
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
        b[4 + i] = static_cast<uint8_t>(nanoseconds >> (24 - 8 * i));
    }
    return json::binary(b, 0);
}

enum class Shape { TimeRecord, TimeMetaRecord, BareRecord };

inline json event(Shape shape, const json &record, const json &time = 1700000000) {
    switch (shape) {
    case Shape::TimeRecord: return json::array({time, record});
    case Shape::TimeMetaRecord: return json::array({json::array({time, json::object()}), record});
    case Shape::BareRecord: break;
    }
    return record;
}

inline void append(Bytes &buffer, const json &value) {
    Bytes packed = json::to_msgpack(value);
    buffer.insert(buffer.end(), packed.begin(), packed.end());
}

} // namespace forwarder_test
