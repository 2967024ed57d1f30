// IPv4 flow records in the layout of nftest::ipv4_flow_fields() (37 bytes, not a multiple
// of 4), with values a collector decodes back into named fields.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exporter/netflow_builder.h"

namespace interop {

struct Flow {
    uint32_t bytes, packets;
    uint8_t protocol, tos, tcp_flags;
    uint16_t src_port;
    uint32_t src_addr, src_as;
    uint16_t dst_port;
    uint32_t dst_addr;
    uint16_t output_snmp;
    uint32_t last, first; // sysUpTime milliseconds

    std::string src_text() const { return dotted(src_addr); }
    std::string dst_text() const { return dotted(dst_addr); }
    static std::string dotted(uint32_t a) {
        return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
               std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
    }

    nftest::Bytes encode() const {
        nftest::Bytes b(37, 0);
        nftest::be32(b, 0, bytes);
        nftest::be32(b, 4, packets);
        b[8] = protocol;
        b[9] = tos;
        b[10] = tcp_flags;
        nftest::be16(b, 11, src_port);
        nftest::be32(b, 13, src_addr);
        nftest::be32(b, 17, src_as);
        nftest::be16(b, 21, dst_port);
        nftest::be32(b, 23, dst_addr);
        nftest::be16(b, 27, output_snmp);
        nftest::be32(b, 29, last);
        nftest::be32(b, 33, first);
        return b;
    }
};

// Flow number i: a unique source address 10.1.x.y and values that follow from i.
inline Flow flow(uint32_t i) {
    Flow f{};
    f.protocol = i % 3 == 0 ? 17 : 6;
    f.packets = 1 + i % 97;
    f.bytes = f.packets * (60 + i % 1400);
    f.tos = static_cast<uint8_t>((i % 8) << 5);
    f.tcp_flags = f.protocol == 6 ? 0x1b : 0;
    f.src_port = static_cast<uint16_t>(1024 + i);
    f.src_addr = (10u << 24) | (1u << 16) | (i & 0xffff);
    f.src_as = 64512 + i % 1000;
    f.dst_port = f.protocol == 17 ? 53 : 443;
    f.dst_addr = (192u << 24) | (168u << 16) | (7u << 8) | (i % 250 + 1);
    f.output_snmp = static_cast<uint16_t>(1 + i % 16);
    f.first = 500000 + i;
    f.last = 590000 + i;
    return f;
}

// An export packet of flows [first, first + n) from one observation domain.
inline nftest::Packet packet_of_flows(uint32_t first, uint32_t n, uint32_t source_id,
                                      uint32_t sequence) {
    nftest::Packet p;
    p.source_id = source_id;
    p.sequence = sequence;
    p.sys_uptime = 600000;
    p.unix_secs = 1760000000;
    for (uint32_t i = 0; i < n; ++i)
        p.records.push_back(flow(first + i).encode());
    return p;
}

} // namespace interop
