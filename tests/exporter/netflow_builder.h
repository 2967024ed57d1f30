// Builds NetFlow v9 export packets the way a producing application puts them into an
// opaque event: header, one template FlowSet, one data FlowSet of equal-length records.
// Also decodes what an exporter sends, for byte-level checks.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "exporter/vem_netflow_fields.h"

namespace nftest {

using Bytes = std::vector<uint8_t>;

inline void be16(Bytes &b, size_t at, uint32_t v) {
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
inline void be32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
inline uint32_t rd16(const uint8_t *p) {
    return (uint32_t{p[0]} << 8) | p[1];
}
inline uint32_t rd32(const uint8_t *p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

struct Field {
    uint16_t type;
    uint16_t length;
};

// Fields by catalogue name, with the catalogue's lengths.
inline std::vector<Field> fields_by_name(std::initializer_list<const char *> names) {
    std::vector<Field> out;
    for (const char *n : names) {
        const vem_net_flow_field_info_t *row = vem_net_flow_field_info_by_name(n);
        out.push_back({row ? row->type : uint16_t{0}, row ? row->length : uint16_t{0}});
    }
    return out;
}

// Thirteen common IPv4 flow fields: a 60-byte template FlowSet and 37-byte records.
inline std::vector<Field> ipv4_flow_fields() {
    return fields_by_name({"IN_BYTES", "IN_PKTS", "PROTOCOL", "SRC_TOS", "TCP_FLAGS", "L4_SRC_PORT",
                           "IPV4_SRC_ADDR", "SRC_AS", "L4_DST_PORT", "IPV4_DST_ADDR", "OUTPUT_SNMP",
                           "LAST_SWITCHED", "FIRST_SWITCHED"});
}

struct Packet {
    uint16_t template_id = 256;
    uint32_t sys_uptime = 123456;
    uint32_t unix_secs = 1700000000;
    uint32_t sequence = 77;
    uint32_t source_id = 5;
    std::vector<Field> fields = ipv4_flow_fields();
    std::vector<Bytes> records;

    uint32_t record_length() const {
        uint32_t r = 0;
        for (auto f : fields)
            r += f.length;
        return r;
    }
    uint32_t template_length() const { return 8 + 4 * static_cast<uint32_t>(fields.size()); }
    // value1 of the opaque event: record length in bits 0-15, record count in bits 16-31.
    uint64_t value1() const {
        return record_length() | (static_cast<uint64_t>(records.size()) << 16);
    }

    // Adds `count` records whose bytes follow from the record's index: byte j of record i
    // is (i * 7 + j * 13 + 1) & 0xff, so every record differs from its neighbours.
    Packet &add_patterned(size_t count) {
        uint32_t r = record_length();
        for (size_t k = 0; k < count; ++k) {
            size_t i = records.size();
            Bytes rec(r);
            for (uint32_t j = 0; j < r; ++j)
                rec[j] = static_cast<uint8_t>(i * 7 + j * 13 + 1);
            records.push_back(rec);
        }
        return *this;
    }

    // The whole packet, the data FlowSet padded to a multiple of 4 as a producer would.
    Bytes encode() const {
        uint32_t t = template_length();
        uint32_t r = record_length();
        uint32_t body = r * static_cast<uint32_t>(records.size());
        uint32_t pad = (4 - (24 + t + body) % 4) % 4;
        Bytes b(20 + t + 4 + body + pad, 0);
        be16(b, 0, 9);
        be16(b, 2, static_cast<uint32_t>(records.size()) + 1);
        be32(b, 4, sys_uptime);
        be32(b, 8, unix_secs);
        be32(b, 12, sequence);
        be32(b, 16, source_id);
        be16(b, 20, 0);
        be16(b, 22, t);
        be16(b, 24, template_id);
        be16(b, 26, static_cast<uint32_t>(fields.size()));
        for (size_t i = 0; i < fields.size(); ++i) {
            be16(b, 28 + 4 * i, fields[i].type);
            be16(b, 30 + 4 * i, fields[i].length);
        }
        be16(b, 20 + t, template_id);
        be16(b, 22 + t, 4 + body + pad);
        size_t at = 24 + t;
        for (auto &rec : records) {
            std::memcpy(b.data() + at, rec.data(), rec.size());
            at += rec.size();
        }
        return b;
    }
};

// What an exporter sent, taken apart; `ok` is false when the layout does not hold.
struct Decoded {
    bool ok = false;
    uint32_t count = 0, sequence = 0, source_id = 0, template_length = 0;
    uint32_t data_flowset_id = 0, data_flowset_length = 0;
    Bytes header_rest; // sysUpTime and UNIX Secs
    Bytes template_flowset;
    Bytes records; // n x R bytes
    Bytes padding;
};

inline Decoded decode(const Bytes &p, uint32_t record_length) {
    Decoded d;
    if (p.size() < 24)
        return d;
    d.count = rd16(&p[2]);
    d.sequence = rd32(&p[12]);
    d.source_id = rd32(&p[16]);
    d.header_rest.assign(p.begin() + 4, p.begin() + 12);
    d.template_length = rd16(&p[22]);
    if (p.size() < 24 + d.template_length)
        return d;
    d.template_flowset.assign(p.begin() + 20, p.begin() + 20 + d.template_length);
    d.data_flowset_id = rd16(&p[20 + d.template_length]);
    d.data_flowset_length = rd16(&p[22 + d.template_length]);
    size_t data_end = 20 + d.template_length + d.data_flowset_length;
    if (data_end != p.size() || d.count == 0)
        return d;
    size_t body = static_cast<size_t>(d.count - 1) * record_length;
    if (24 + d.template_length + body > p.size())
        return d;
    d.records.assign(p.begin() + 24 + d.template_length, p.begin() + 24 + d.template_length + body);
    d.padding.assign(p.begin() + 24 + d.template_length + body, p.end());
    d.ok = true;
    return d;
}

} // namespace nftest
