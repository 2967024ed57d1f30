#include "tools/sentrel_demo/flow_events.h"

#include <cstring>

#include "tools/sentrel_demo/netflow_wire.h"

namespace demo {

namespace {

// The IPv4 flow fields of the template, in record order.
const char *const kFieldNames[] = {
    "IPV4_SRC_ADDR", "IPV4_DST_ADDR",  "IPV4_NEXT_HOP", "INPUT_SNMP",  "OUTPUT_SNMP", "IN_PKTS",
    "IN_BYTES",      "FIRST_SWITCHED", "LAST_SWITCHED", "L4_SRC_PORT", "L4_DST_PORT", "TCP_FLAGS",
    "PROTOCOL",      "SRC_TOS",        "SRC_AS",        "DST_AS",      "SRC_MASK",    "DST_MASK",
};

void put_be(uint8_t *p, uint16_t length, uint64_t v) {
    for (int i = length - 1; i >= 0; --i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}

} // namespace

bool FlowSynth::init(const PluginHost &host, std::string &error) {
    for (const char *name : kFieldNames) {
        const vem_net_flow_field_info_t *f = host.field(name);
        if (!f) {
            error = std::string("field ") + name + " is not in the plug-in's catalogue";
            return false;
        }
        fields_.push_back({f->type, f->length});
        record_length_ += f->length;
    }
    return true;
}

void FlowSynth::write_record(uint8_t *out) {
    auto rnd = [this] {
        rng_ ^= rng_ << 13;
        rng_ ^= rng_ >> 7;
        rng_ ^= rng_ << 17;
        return rng_;
    };
    uint64_t f = flow_++;
    uint64_t r = rnd();
    uint32_t roll = static_cast<uint32_t>(r % 100);
    uint8_t protocol = roll < 70 ? 6 : roll < 95 ? 17 : 1;
    static const uint16_t kServices[] = {443, 80, 53, 22, 123, 25, 993, 8080};
    uint32_t packets = 1 + static_cast<uint32_t>((r >> 8) % 2000);
    uint32_t mean_size = 40 + static_cast<uint32_t>((r >> 20) % 1460);
    uint32_t duration = static_cast<uint32_t>((r >> 32) % 120000);
    for (const Field &fd : fields_) {
        uint64_t v = 0;
        switch (fd.type) {
        case 8:
            v = (10u << 24) | (f & 0xffffff);
            break; // 10.x.y.z
        case 12:
            v = (192u << 24) | (168u << 16) | ((r >> 40) & 0xffff);
            break; // 192.168.x.y
        case 15:
            v = (10u << 24) | (255u << 16) | 1;
            break;
        case 10:
            v = 1 + (f % 8);
            break;
        case 14:
            v = 1 + ((f + 3) % 8);
            break;
        case 2:
            v = packets;
            break;
        case 1:
            v = uint64_t{packets} * mean_size;
            break;
        case 22:
            v = uptime_ms_ - duration - 1000;
            break;
        case 21:
            v = uptime_ms_ - 1000;
            break;
        case 7:
            v = protocol == 1 ? 0 : 32768 + (r >> 48) % 28000;
            break;
        case 11:
            v = protocol == 1 ? 0x0800 : kServices[(r >> 56) % 8];
            break; // ICMP: echo request
        case 6:
            v = protocol == 6 ? 0x1b : 0;
            break; // SYN ACK PSH FIN
        case 4:
            v = protocol;
            break;
        case 5:
            v = 0;
            break;
        case 16:
            v = 64512 + f % 100;
            break;
        case 17:
            v = 65000 + (r >> 24) % 500;
            break;
        case 9:
            v = 24;
            break;
        case 13:
            v = 16;
            break;
        default:
            v = 0;
            break;
        }
        put_be(out, fd.length, v);
        out += fd.length;
    }
}

uint32_t FlowSynth::payload_size(uint32_t records) const {
    uint32_t unpadded = kNetflowHeaderSize + template_length() + 4 + records * record_length_;
    return (unpadded + 3) & ~3u;
}

FlowEvent FlowSynth::next(uint32_t records, uint32_t sequence) {
    uptime_ms_ += 10;
    if (uptime_ms_ % 1000 < 10)
        ++unix_secs_;
    FlowEvent ev;
    uint32_t t = template_length();
    uint32_t body = records * record_length_;
    ev.payload.assign(payload_size(records), 0);
    uint32_t pad = static_cast<uint32_t>(ev.payload.size()) - (kNetflowHeaderSize + t + 4 + body);
    uint8_t *p = ev.payload.data();
    put_be16(p, 9);
    put_be16(p + 2, records + 1);
    put_be32(p + 4, uptime_ms_);
    put_be32(p + 8, unix_secs_);
    put_be32(p + 12, sequence);
    put_be32(p + 16, kSourceId);
    uint8_t *tpl = p + kNetflowHeaderSize;
    put_be16(tpl, 0);
    put_be16(tpl + 2, t);
    put_be16(tpl + 4, kTemplateId);
    put_be16(tpl + 6, static_cast<uint32_t>(fields_.size()));
    for (size_t i = 0; i < fields_.size(); ++i) {
        put_be16(tpl + 8 + 4 * i, fields_[i].type);
        put_be16(tpl + 10 + 4 * i, fields_[i].length);
    }
    uint8_t *data = tpl + t;
    put_be16(data, kTemplateId);
    put_be16(data + 2, 4 + body + pad);
    for (uint32_t i = 0; i < records; ++i) {
        uint8_t *rec = data + 4 + i * record_length_;
        write_record(rec);
        ev.digest += record_digest(rec, record_length_);
    }
    ev.records = records;
    ev.value1 = record_length_ | (uint64_t{records} << 16);
    return ev;
}

uint64_t FlowSynth::packets_for(uint32_t records, uint32_t max_packet_size) const {
    if (max_packet_size == 0)
        return 1;
    if (records == 0)
        return 0;
    uint32_t fixed = kNetflowHeaderSize + template_length() + 4;
    uint32_t per_packet = ((max_packet_size & ~3u) - fixed) / record_length_;
    return per_packet ? (records + per_packet - 1) / per_packet : 0;
}

} // namespace demo
