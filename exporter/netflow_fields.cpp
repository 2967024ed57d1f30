// The NetFlow v9 field-type catalogue: one row per field type, indexed by type number.
// The exporter never consults it; it is exported for the programs that load the plug-in.
#include <string.h>

#include "exporter/vem_netflow_fields.h"

extern "C" {

const vem_net_flow_field_info_t net_flow_fields_info[VEM_NET_FLOW_FIELDS_COUNT] = {
    {0, nullptr, 0, nullptr},
    {1, "IN_BYTES", 4,
     "Incoming counter of N x 8 bits for the number of bytes of the flow; default for N is 4"},
    {2, "IN_PKTS", 4,
     "Incoming counter of N x 8 bits for the number of packets of the flow; default for N is 4"},
    {3, "FLOWS", 4, "Number of flows that were aggregated; default for N is 4"},
    {4, "PROTOCOL", 1, "IP protocol byte"},
    {5, "SRC_TOS", 1,
     "Type of Service byte of the incoming packets, as set on entering the interface"},
    {6, "TCP_FLAGS", 1, "Cumulative OR of the TCP flags seen in the packets of the flow"},
    {7, "L4_SRC_PORT", 2, "TCP or UDP source port number of the flow"},
    {8, "IPV4_SRC_ADDR", 4, "IPv4 source address of the flow"},
    {9, "SRC_MASK", 1,
     "Number of contiguous bits in the source address subnet mask (source prefix length)"},
    {10, "INPUT_SNMP", 2, "SNMP index of the input interface, N x 8 bits; default for N is 2"},
    {11, "L4_DST_PORT", 2, "TCP or UDP destination port number of the flow"},
    {12, "IPV4_DST_ADDR", 4, "IPv4 destination address of the flow"},
    {13, "DST_MASK", 1,
     "Number of contiguous bits in the destination address subnet mask (destination prefix "
     "length)"},
    {14, "OUTPUT_SNMP", 2, "SNMP index of the output interface, N x 8 bits; default for N is 2"},
    {15, "IPV4_NEXT_HOP", 4, "IPv4 address of the next-hop router"},
    {16, "SRC_AS", 4,
     "Source BGP autonomous system number, N x 8 bits where N is 2 or 4; default for N is 4"},
    {17, "DST_AS", 4,
     "Destination BGP autonomous system number, N x 8 bits where N is 2 or 4; default for N is 4"},
    {18, "BGP_IPV4_NEXT_HOP", 4, "IPv4 address of the next-hop router in the BGP domain"},
    {19, "MUL_DST_PKTS", 4,
     "Outgoing multicast counter of N x 8 bits for the packets of the flow; default for N is 4"},
    {20, "MUL_DST_BYTES", 4,
     "Outgoing multicast counter of N x 8 bits for the bytes of the flow; default for N is 4"},
    {21, "LAST_SWITCHED", 4,
     "System uptime in milliseconds at which the last packet of the flow was switched"},
    {22, "FIRST_SWITCHED", 4,
     "System uptime in milliseconds at which the first packet of the flow was switched"},
    {23, "OUT_BYTES", 4,
     "Outgoing counter of N x 8 bits for the number of bytes of the flow; default for N is 4"},
    {24, "OUT_PKTS", 4,
     "Outgoing counter of N x 8 bits for the number of packets of the flow; default for N is 4"},
    {25, "MIN_PKT_LNGTH", 2, "Length in bytes of the smallest packet observed in the flow"},
    {26, "MAX_PKT_LNGTH", 2, "Length in bytes of the largest packet observed in the flow"},
    {27, "IPV6_SRC_ADDR", 16, "IPv6 source address of the flow"},
    {28, "IPV6_DST_ADDR", 16, "IPv6 destination address of the flow"},
    {29, "IPV6_SRC_MASK", 1, "Length of the IPv6 source prefix in contiguous bits"},
    {30, "IPV6_DST_MASK", 1, "Length of the IPv6 destination prefix in contiguous bits"},
    {31, "IPV6_FLOW_LABEL", 3,
     "IPv6 flow label, the low 20 bits of the field as defined by RFC 2460"},
    {32, "ICMP_TYPE", 2, "ICMP packet type and code, carried as type times 256 plus code"},
    {33, "MUL_IGMP_TYPE", 1, "Internet Group Management Protocol packet type"},
    {34, "SAMPLING_INTERVAL", 4,
     "Sampling interval of the exporter: one packet of every N is sampled"},
    {35, "SAMPLING_ALGORITHM", 1,
     "Sampling algorithm in use: 0x01 for deterministic and 0x02 for random sampling"},
    {36, "FLOW_ACTIVE_TIMEOUT", 2,
     "Timeout in seconds after which active flow entries are exported"},
    {37, "FLOW_INACTIVE_TIMEOUT", 2,
     "Timeout in seconds after which inactive flow entries are exported"},
    {38, "ENGINE_TYPE", 1,
     "Type of the flow switching engine, such as route processor or line card"},
    {39, "ENGINE_ID", 1, "Identifier of the flow switching engine, such as a slot number"},
    {40, "TOTAL_BYTES_EXP", 4,
     "Counter of N x 8 bits for the bytes exported by the observation domain; default for N is 4"},
    {41, "TOTAL_PKTS_EXP", 4,
     "Counter of N x 8 bits for the packets exported by the observation domain; default for N is "
     "4"},
    {42, "TOTAL_FLOWS_EXP", 4,
     "Counter of N x 8 bits for the flows exported by the observation domain; default for N is 4"},
    {43, "VendorProprietary43", 32, "Vendor Proprietary 43"},
    {44, "IPV4_SRC_PREFIX", 4,
     "IPv4 source address prefix, for aggregation schemes that export prefixes"},
    {45, "IPV4_DST_PREFIX", 4,
     "IPv4 destination address prefix, for aggregation schemes that export prefixes"},
    {46, "MPLS_TOP_LABEL_TYPE", 1,
     "Type of the top MPLS label, such as LDP, BGP, VPN or traffic engineering tunnel mid-point"},
    {47, "MPLS_TOP_LABEL_IP_ADDR", 4,
     "Forwarding Equivalent Class IP address that corresponds to the top MPLS label"},
    {48, "FLOW_SAMPLER_ID", 1,
     "Identifier shown in the show flow-sampler output of the sampler that sampled the flow"},
    {49, "FLOW_SAMPLER_MODE", 1,
     "Type of algorithm used by the flow sampler: 0x01 for deterministic and 0x02 for random"},
    {50, "FLOW_SAMPLER_RANDOM_INTERVAL", 4,
     "Packet interval at which the flow sampler samples in random sampling mode"},
    {51, "VendorProprietary51", 32, "Vendor Proprietary 51"},
    {52, "MIN_TTL", 1, "Smallest IP Time To Live value observed in the packets of the flow"},
    {53, "MAX_TTL", 1, "Largest IP Time To Live value observed in the packets of the flow"},
    {54, "IPV4_IDENT", 2, "IPv4 identification field of the packet"},
    {55, "DST_TOS", 1, "Type of Service byte as set when the packets leave the outgoing interface"},
    {56, "IN_SRC_MAC", 6, "Incoming source MAC address"},
    {57, "OUT_DST_MAC", 6, "Outgoing destination MAC address"},
    {58, "SRC_VLAN", 2, "Virtual LAN identifier of the incoming traffic"},
    {59, "DST_VLAN", 2, "Virtual LAN identifier of the outgoing traffic"},
    {60, "IP_PROTOCOL_VERSION", 1,
     "Internet Protocol version of the flow: 4 for IPv4 and 6 for IPv6; IPv4 is assumed when "
     "absent"},
    {61, "DIRECTION", 1, "Direction of the flow as observed: 0 for ingress and 1 for egress"},
    {62, "IPV6_NEXT_HOP", 16, "IPv6 address of the next-hop router"},
    {63, "BPG_IPV6_NEXT_HOP", 16, "IPv6 address of the next-hop router in the BGP domain"},
    {64, "IPV6_OPTION_HEADERS", 4,
     "Bit map of the IPv6 option headers found in the packets of the flow"},
    {65, "VendorProprietary65", 32, "Vendor Proprietary 65"},
    {66, "VendorProprietary66", 32, "Vendor Proprietary 66"},
    {67, "VendorProprietary67", 32, "Vendor Proprietary 67"},
    {68, "VendorProprietary68", 32, "Vendor Proprietary 68"},
    {69, "VendorProprietary69", 32, "Vendor Proprietary 69"},
    {70, "MPLS_LABEL_1", 3,
     "MPLS label at position 1 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {71, "MPLS_LABEL_2", 3,
     "MPLS label at position 2 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {72, "MPLS_LABEL_3", 3,
     "MPLS label at position 3 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {73, "MPLS_LABEL_4", 3,
     "MPLS label at position 4 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {74, "MPLS_LABEL_5", 3,
     "MPLS label at position 5 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {75, "MPLS_LABEL_6", 3,
     "MPLS label at position 6 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {76, "MPLS_LABEL_7", 3,
     "MPLS label at position 7 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {77, "MPLS_LABEL_8", 3,
     "MPLS label at position 8 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {78, "MPLS_LABEL_9", 3,
     "MPLS label at position 9 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {79, "MPLS_LABEL_10", 3,
     "MPLS label at position 10 of the stack: 20 bits of label, 3 experimental bits and 1 "
     "end-of-stack bit"},
    {80, "IN_DST_MAC", 6, "Incoming destination MAC address"},
    {81, "OUT_SRC_MAC", 6, "Outgoing source MAC address"},
    {82, "IF_NAME", 32, "Short name of the interface, such as FE1/0, as a text of N x 8 bits"},
    {83, "IF_DESC", 32,
     "Full name of the interface, such as FastEthernet 1/0, as a text of N x 8 bits"},
    {84, "SAMPLER_NAME", 32, "Name of the flow sampler, as a text of N x 8 bits"},
    {85, "IN_PERMANENT_BYTES", 4,
     "Running counter of N x 8 bits for the bytes of a permanent flow; default for N is 4"},
    {86, "IN_PERMANENT_PKTS", 4,
     "Running counter of N x 8 bits for the packets of a permanent flow; default for N is 4"},
    {87, "VendorProprietary", 32, "Vendor Proprietary 87"},
    {88, "FRAGMENT_OFFSET", 2, "Fragment offset of the IPv4 packet, in units of 8 bytes"},
    {89, "FORWARDING_STATUS", 1,
     "Forwarding status of the flow: 2 bits of status (forwarded, dropped, consumed) and 6 bits of "
     "reason code"},
    {90, "MPLS_PAL_RD", 8,
     "MPLS VPN route distinguisher of the top label's Prefix/Address/Label entry"},
    {91, "MPLS_PREFIX_LEN", 1, "Number of consecutive bits in the MPLS prefix length"},
    {92, "SRC_TRAFFIC_INDEX", 4, "BGP policy accounting traffic index of the source"},
    {93, "DST_TRAFFIC_INDEX", 4, "BGP policy accounting traffic index of the destination"},
    {94, "APPLICATION_DESCRIPTION", 32, "Text that describes the application of the flow"},
    {95, "APPLICATION_TAG", 3,
     "Application identifier: 8 bits of classification engine ID followed by a selector of N x 8 "
     "bits"},
    {96, "APPLICATION_NAME", 32, "Name of the application that the flow belongs to"},
    {97, nullptr, 0, nullptr},
    {98, "postipDiffServCodePoint", 1,
     "Differentiated Services Code Point of the packets when they leave the outgoing interface"},
    {99, "replication_factor", 4,
     "Multicast replication factor: the number of copies made of each packet of the flow"},
    {100, "DEPRECATED", 32, "DEPRECATED"},
    {101, nullptr, 0, nullptr},
    {102, "layer2packetSectionOffset", 32,
     "Offset within the layer 2 packet at which the exported layer 2 packet section starts"},
    {103, "layer2packetSectionSize", 32, "Size in bytes of the exported layer 2 packet section"},
    {104, "layer2packetSectionData", 32,
     "Bytes of the layer 2 packet section, starting at the section offset"},
};

VEM_API const vem_net_flow_field_info_t *vem_net_flow_field_info_by_type(int type) {
    if (type < 1 || type >= VEM_NET_FLOW_FIELDS_COUNT)
        return nullptr;
    const vem_net_flow_field_info_t *row = &net_flow_fields_info[type];
    return row->name ? row : nullptr;
}

// A plain walk in type order: at most 102 comparisons, no index to build or keep. The
// first letters are compared inline so that most rows cost no call.
VEM_API const vem_net_flow_field_info_t *vem_net_flow_field_info_by_name(const char *name) {
    if (!name)
        return nullptr;
    for (const vem_net_flow_field_info_t &row : net_flow_fields_info)
        if (row.name && row.name[0] == name[0] && strcmp(row.name, name) == 0)
            return &row;
    return nullptr;
}

} // extern "C"
