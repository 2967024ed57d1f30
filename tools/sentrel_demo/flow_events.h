// Synthesises NetFlow v9 export packets of IPv4 flows, as a flow-producing application
// puts them into opaque events: a header, one template FlowSet and one data FlowSet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sentrel_demo/plugin_host.h"

namespace demo {

using Bytes = std::vector<uint8_t>;

struct FlowEvent {
    Bytes payload;       // the NetFlow v9 packet
    uint64_t value1 = 0; // record length in bits 0-15, record count in bits 16-31
    uint32_t records = 0;
    uint64_t digest = 0; // sum of record_digest over the records
};

class FlowSynth {
  public:
    // Builds the template from the catalogue of the loaded plug-in; false with `error`
    // when a field name is unknown to it.
    bool init(const PluginHost &host, std::string &error);

    uint32_t template_length() const { return 8 + 4 * static_cast<uint32_t>(fields_.size()); }
    uint32_t record_length() const { return record_length_; }

    // Bytes of the packet of an event of `records` flows, padding included.
    uint32_t payload_size(uint32_t records) const;

    // The next event of `records` flows; `sequence` goes into its header as the
    // producer's own packet number.
    FlowEvent next(uint32_t records, uint32_t sequence);

    // Packets an exporter sends for an event of `records` records at this maximum
    // packet size (0: the event whole).
    uint64_t packets_for(uint32_t records, uint32_t max_packet_size) const;

  private:
    struct Field {
        uint16_t type;
        uint16_t length;
    };
    void write_record(uint8_t *out);

    std::vector<Field> fields_;
    uint32_t record_length_ = 0;
    uint64_t flow_ = 0;
    uint64_t rng_ = 0x9e3779b97f4a7c15ull;
    uint32_t uptime_ms_ = 3600000;
    uint32_t unix_secs_ = 1760000000;
    static constexpr uint16_t kTemplateId = 260;
};

} // namespace demo
