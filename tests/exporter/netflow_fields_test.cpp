// The exported NetFlow v9 field catalogue and its two lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "exporter/vem_netflow_fields.h"

namespace {

struct Row {
    int type;
    const char *name;
    int length;
};

// Every row of the catalogue, as the fields are named and sized.
const Row kRows[] = {
    {1, "IN_BYTES", 4},
    {2, "IN_PKTS", 4},
    {3, "FLOWS", 4},
    {4, "PROTOCOL", 1},
    {5, "SRC_TOS", 1},
    {6, "TCP_FLAGS", 1},
    {7, "L4_SRC_PORT", 2},
    {8, "IPV4_SRC_ADDR", 4},
    {9, "SRC_MASK", 1},
    {10, "INPUT_SNMP", 2},
    {11, "L4_DST_PORT", 2},
    {12, "IPV4_DST_ADDR", 4},
    {13, "DST_MASK", 1},
    {14, "OUTPUT_SNMP", 2},
    {15, "IPV4_NEXT_HOP", 4},
    {16, "SRC_AS", 4},
    {17, "DST_AS", 4},
    {18, "BGP_IPV4_NEXT_HOP", 4},
    {19, "MUL_DST_PKTS", 4},
    {20, "MUL_DST_BYTES", 4},
    {21, "LAST_SWITCHED", 4},
    {22, "FIRST_SWITCHED", 4},
    {23, "OUT_BYTES", 4},
    {24, "OUT_PKTS", 4},
    {25, "MIN_PKT_LNGTH", 2},
    {26, "MAX_PKT_LNGTH", 2},
    {27, "IPV6_SRC_ADDR", 16},
    {28, "IPV6_DST_ADDR", 16},
    {29, "IPV6_SRC_MASK", 1},
    {30, "IPV6_DST_MASK", 1},
    {31, "IPV6_FLOW_LABEL", 3},
    {32, "ICMP_TYPE", 2},
    {33, "MUL_IGMP_TYPE", 1},
    {34, "SAMPLING_INTERVAL", 4},
    {35, "SAMPLING_ALGORITHM", 1},
    {36, "FLOW_ACTIVE_TIMEOUT", 2},
    {37, "FLOW_INACTIVE_TIMEOUT", 2},
    {38, "ENGINE_TYPE", 1},
    {39, "ENGINE_ID", 1},
    {40, "TOTAL_BYTES_EXP", 4},
    {41, "TOTAL_PKTS_EXP", 4},
    {42, "TOTAL_FLOWS_EXP", 4},
    {43, "VendorProprietary43", 32},
    {44, "IPV4_SRC_PREFIX", 4},
    {45, "IPV4_DST_PREFIX", 4},
    {46, "MPLS_TOP_LABEL_TYPE", 1},
    {47, "MPLS_TOP_LABEL_IP_ADDR", 4},
    {48, "FLOW_SAMPLER_ID", 1},
    {49, "FLOW_SAMPLER_MODE", 1},
    {50, "FLOW_SAMPLER_RANDOM_INTERVAL", 4},
    {51, "VendorProprietary51", 32},
    {52, "MIN_TTL", 1},
    {53, "MAX_TTL", 1},
    {54, "IPV4_IDENT", 2},
    {55, "DST_TOS", 1},
    {56, "IN_SRC_MAC", 6},
    {57, "OUT_DST_MAC", 6},
    {58, "SRC_VLAN", 2},
    {59, "DST_VLAN", 2},
    {60, "IP_PROTOCOL_VERSION", 1},
    {61, "DIRECTION", 1},
    {62, "IPV6_NEXT_HOP", 16},
    {63, "BPG_IPV6_NEXT_HOP", 16},
    {64, "IPV6_OPTION_HEADERS", 4},
    {65, "VendorProprietary65", 32},
    {66, "VendorProprietary66", 32},
    {67, "VendorProprietary67", 32},
    {68, "VendorProprietary68", 32},
    {69, "VendorProprietary69", 32},
    {70, "MPLS_LABEL_1", 3},
    {71, "MPLS_LABEL_2", 3},
    {72, "MPLS_LABEL_3", 3},
    {73, "MPLS_LABEL_4", 3},
    {74, "MPLS_LABEL_5", 3},
    {75, "MPLS_LABEL_6", 3},
    {76, "MPLS_LABEL_7", 3},
    {77, "MPLS_LABEL_8", 3},
    {78, "MPLS_LABEL_9", 3},
    {79, "MPLS_LABEL_10", 3},
    {80, "IN_DST_MAC", 6},
    {81, "OUT_SRC_MAC", 6},
    {82, "IF_NAME", 32},
    {83, "IF_DESC", 32},
    {84, "SAMPLER_NAME", 32},
    {85, "IN_PERMANENT_BYTES", 4},
    {86, "IN_PERMANENT_PKTS", 4},
    {87, "VendorProprietary", 32},
    {88, "FRAGMENT_OFFSET", 2},
    {89, "FORWARDING_STATUS", 1},
    {90, "MPLS_PAL_RD", 8},
    {91, "MPLS_PREFIX_LEN", 1},
    {92, "SRC_TRAFFIC_INDEX", 4},
    {93, "DST_TRAFFIC_INDEX", 4},
    {94, "APPLICATION_DESCRIPTION", 32},
    {95, "APPLICATION_TAG", 3},
    {96, "APPLICATION_NAME", 32},
    {98, "postipDiffServCodePoint", 1},
    {99, "replication_factor", 4},
    {100, "DEPRECATED", 32},
    {102, "layer2packetSectionOffset", 32},
    {103, "layer2packetSectionSize", 32},
    {104, "layer2packetSectionData", 32},
};

TEST(NetflowFields, EveryRowHasItsNameLengthAndBothLookupsAgree) {
    ASSERT_EQ(sizeof kRows / sizeof kRows[0], 102u);
    for (const Row &r : kRows) {
        SCOPED_TRACE(r.name);
        const vem_net_flow_field_info_t *row = &net_flow_fields_info[r.type];
        EXPECT_EQ(row->type, r.type);
        EXPECT_STREQ(row->name, r.name);
        EXPECT_EQ(row->length, r.length);
        EXPECT_EQ(vem_net_flow_field_info_by_type(r.type), row);
        EXPECT_EQ(vem_net_flow_field_info_by_name(r.name), row);
    }
}

TEST(NetflowFields, DescriptionsAreOneShortSentenceEach) {
    std::set<std::string> names;
    int described = 0;
    for (int t = 0; t < VEM_NET_FLOW_FIELDS_COUNT; ++t) {
        const vem_net_flow_field_info_t &row = net_flow_fields_info[t];
        EXPECT_EQ(row.type, t);
        if (!row.name) {
            EXPECT_EQ(row.description, nullptr) << t;
            EXPECT_EQ(row.length, 0) << t;
            continue;
        }
        names.insert(row.name);
        ASSERT_NE(row.description, nullptr) << t;
        size_t n = strlen(row.description);
        EXPECT_GT(n, 0u) << t;
        EXPECT_LE(n, 137u) << t << ": " << row.description;
        EXPECT_EQ(strchr(row.description, '\n'), nullptr) << t;
        ++described;
    }
    EXPECT_EQ(described, 102);
    EXPECT_EQ(names.size(), 102u);
    EXPECT_STREQ(net_flow_fields_info[3].description,
                 "Number of flows that were aggregated; default for N is 4");
    EXPECT_STREQ(net_flow_fields_info[4].description, "IP protocol byte");
    EXPECT_STREQ(net_flow_fields_info[43].description, "Vendor Proprietary 43");
    EXPECT_STREQ(net_flow_fields_info[87].description, "Vendor Proprietary 87");
    EXPECT_STREQ(net_flow_fields_info[100].description, "DEPRECATED");
    for (int t : {51, 65, 66, 67, 68, 69})
        EXPECT_EQ(std::string(net_flow_fields_info[t].description),
                  "Vendor Proprietary " + std::to_string(t));
}

TEST(NetflowFields, TypesOutsideTheCatalogueGiveNull) {
    for (int t : {0, 97, 101, 105, 255, 65535, -1, -105, INT32_MIN, INT32_MAX})
        EXPECT_EQ(vem_net_flow_field_info_by_type(t), nullptr) << t;
    EXPECT_EQ(vem_net_flow_field_info_by_type(1)->length, 4);
    EXPECT_STREQ(vem_net_flow_field_info_by_type(104)->name, "layer2packetSectionData");
}

TEST(NetflowFields, NamesMatchExactlyAndOnlyAsSpelled) {
    for (const char *n :
         {"in_bytes", "IN_BYTES ", "IN_BYTE", "BGP_IPV6_NEXT_HOP", "VendorProprietary87",
          "MIN_PKT_LENGTH", "deprecated", "Replication_Factor", ""})
        EXPECT_EQ(vem_net_flow_field_info_by_name(n), nullptr) << n;
    EXPECT_EQ(vem_net_flow_field_info_by_name(nullptr), nullptr);
    EXPECT_EQ(vem_net_flow_field_info_by_name("BPG_IPV6_NEXT_HOP")->type, 63);
    EXPECT_EQ(vem_net_flow_field_info_by_name("VendorProprietary")->type, 87);
    EXPECT_EQ(vem_net_flow_field_info_by_name("DEPRECATED")->type, 100);
}

} // namespace
