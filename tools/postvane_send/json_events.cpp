#include <ctime>

#include <nlohmann/json.hpp>

#include "sender.h"

namespace postvane_send {

namespace {

// The forward protocol's EventTime: ext type 0, big-endian seconds and nanoseconds.
nlohmann::json now_as_event_time() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::vector<uint8_t> b(8);
    const uint32_t s = static_cast<uint32_t>(now.tv_sec), ns = static_cast<uint32_t>(now.tv_nsec);
    for (int i = 0; i < 4; ++i) {
        b[i] = static_cast<uint8_t>(s >> (24 - 8 * i));
        b[4 + i] = static_cast<uint8_t>(ns >> (24 - 8 * i));
    }
    return nlohmann::json::binary(b, 0);
}

} // namespace

bool json_line_to_event(const std::string &line, std::vector<uint8_t> *out) {
    nlohmann::json value = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded())
        return false;
    if (value.is_object())
        value = nlohmann::json::array({now_as_event_time(), std::move(value)});
    else if (!value.is_array())
        return false;
    nlohmann::json::to_msgpack(value, *out);
    return true;
}

} // namespace postvane_send
