// What reaches the collector: whole events unchanged, split events as complete packets
// with the exporter's sequence numbers, and the events that cannot be cut.
#include <string>
#include <vector>

#include "exporter_fixture.h"
#include "fixture/log_capture.h"
#include "netflow_builder.h"

namespace {

using nftest::Bytes;
using nftest::Collector;
using nftest::EventFeeder;
using nftest::ExporterHandle;
using nftest::Options;
using nftest::Packet;
using nftest::Plugin;
using testhost::LogCapture;
using testhost::LogLine;

// The packet the exporter must build for records [first, first + n) of `event`.
Bytes expected_slice(const Packet &event, uint32_t sequence, size_t first, size_t n) {
    Packet slice = event;
    slice.sequence = sequence;
    slice.records.assign(event.records.begin() + first, event.records.begin() + first + n);
    return slice.encode(); // Count n + 1, data FlowSet ID = Template ID, zero padding
}

// Fields that give a 60-byte template FlowSet and records of `record_length` bytes.
// One-byte records come with a single PROTOCOL field (a 12-byte template FlowSet).
std::vector<nftest::Field> fields_with_record_length(uint16_t record_length) {
    if (record_length == 1)
        return {{4, 1}};
    auto f = nftest::ipv4_flow_fields();
    f.back() = {82, static_cast<uint16_t>(record_length - 33)}; // the first twelve take 33 bytes
    return f;
}

class ExporterSend : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(plugin.api(), nullptr) << dlerror(); }

    void open(const char *max_packet_size) {
        Options o{{"netflow-collector-addr", "127.0.0.1"},
                  {"netflow-collector-port", collector.port_text()}};
        if (max_packet_size)
            o.set("netflow-max-packet-size", max_packet_size);
        handle = std::make_unique<ExporterHandle>();
        handle->api = plugin.api();
        handle->exporter = plugin.api()->create(o.dict());
        ASSERT_NE(handle->exporter, nullptr);
        feeder = std::make_unique<EventFeeder>(plugin.api(), handle->exporter);
    }

    std::vector<Bytes> receive(size_t n) {
        std::vector<Bytes> out;
        for (size_t i = 0; i < n; ++i) {
            auto b = collector.receive();
            if (!b)
                break;
            out.push_back(*b);
        }
        return out;
    }

    Plugin plugin;
    Collector collector;
    std::unique_ptr<ExporterHandle> handle;
    std::unique_ptr<EventFeeder> feeder;
};

TEST_F(ExporterSend, WithoutMaximumEveryEventGoesOutByteForByte) {
    open(nullptr);
    Packet p;
    p.add_patterned(25);
    Bytes garbage = {0xde, 0xad, 0xbe, 0xef, 0x01};
    // value1 is not consulted: it may even claim records the payload lacks.
    ASSERT_TRUE(feeder->whole({{p.value1(), p.encode()}, {0, garbage}, {0xffffffff, Bytes{}}}));
    EXPECT_EQ(receive(3), (std::vector<Bytes>{p.encode(), garbage, Bytes{}}));
}

// 25 records of 37 bytes behind a 60-byte template, at most 500 bytes per packet: 11
// records fit (84 + 11 x 37 = 491, padded to 492), so 11, 11 and 3.
TEST_F(ExporterSend, WorkedExampleSplitsIntoThreePaddedPackets) {
    open("500");
    Packet p;
    p.add_patterned(25);
    ASSERT_EQ(p.template_length(), 60u);
    ASSERT_EQ(p.record_length(), 37u);
    ASSERT_TRUE(feeder->whole(p.value1(), p.encode()));
    auto got = receive(3);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], expected_slice(p, 0, 0, 11));
    EXPECT_EQ(got[1], expected_slice(p, 1, 11, 11));
    EXPECT_EQ(got[2], expected_slice(p, 2, 22, 3));
    // The same facts spelled out: Count, lengths, FlowSet Lengths, padding.
    struct Want {
        uint32_t count, size, flowset_length, sequence;
    } want[] = {{12, 492, 412, 0}, {12, 492, 412, 1}, {4, 196, 116, 2}};
    for (int i = 0; i < 3; ++i) {
        auto d = nftest::decode(got[i], 37);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.count, want[i].count);
        EXPECT_EQ(got[i].size(), want[i].size);
        EXPECT_EQ(d.data_flowset_length, want[i].flowset_length);
        EXPECT_EQ(d.sequence, want[i].sequence);
        EXPECT_EQ(d.data_flowset_id, 256u);
        EXPECT_EQ(d.padding, Bytes(1, 0));
    }
    EXPECT_FALSE(collector.pending());
}

TEST_F(ExporterSend, SequenceContinuesAcrossEventsAndSkipsNothing) {
    open("500");
    Packet a;
    a.add_patterned(25);
    Packet b;
    b.sequence = 9999;
    b.add_patterned(4); // fits one packet: still rewritten
    Packet empty;       // no records: nothing is sent, no number used
    ASSERT_TRUE(feeder->whole(
        {{a.value1(), a.encode()}, {empty.value1(), empty.encode()}, {b.value1(), b.encode()}}));
    ASSERT_TRUE(feeder->whole(a.value1(), a.encode()));
    auto got = receive(7);
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[3], expected_slice(b, 3, 0, 4));
    for (uint32_t i = 0; i < 7; ++i)
        EXPECT_EQ(nftest::decode(got[i], 37).sequence, i);
    EXPECT_EQ(got[6], expected_slice(a, 6, 22, 3));
    EXPECT_FALSE(collector.pending());
}

// The count per packet keeps the padded packet within the maximum, and the threshold is
// one padded record.
TEST_F(ExporterSend, PacketsNeverExceedTheMaximumPaddingIncluded) {
    struct Case {
        uint16_t record_length;
        const char *max;
        size_t records;
        std::vector<size_t> per_packet; // empty: refused
        const char *warning;
    } cases[] = {
        {216, "300", 3, {1, 1, 1}, nullptr}, // 24 + 60 + 216 = 300 exactly
        {217, "304", 2, {1, 1}, nullptr},    // 301 padded to 304
        {217, "303", 2, {}, "[NetFlow Exporter] max_packet_size is too small (303 < 304)"},
        {217, "301", 2, {}, "[NetFlow Exporter] max_packet_size is too small (301 < 304)"},
        {36, "500", 30, {11, 11, 8}, nullptr}, // 84 + 11 x 36 = 480, no padding
        {37, "491", 12, {10, 2}, nullptr},     // 491 would pad to 492 > 491: ten fit
        {37, "492", 12, {11, 1}, nullptr},
        {1, "300", 300, {264, 36}, nullptr}, // 36 + 264 = 300
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::string("R=") + std::to_string(c.record_length) + " M=" + c.max);
        open(c.max);
        Packet p;
        p.fields = fields_with_record_length(c.record_length);
        p.add_patterned(c.records);
        LogCapture log(4);
        bool ok = feeder->whole(p.value1(), p.encode());
        if (c.per_packet.empty()) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(
                log.texts(4),
                (std::vector<std::string>{
                    c.warning, "[opaque events extractor] Unable to handle a relevant opaque event",
                    "[opaque events extractor] events block processing failed"}));
            EXPECT_FALSE(collector.pending());
            continue;
        }
        EXPECT_TRUE(ok);
        auto got = receive(c.per_packet.size());
        ASSERT_EQ(got.size(), c.per_packet.size());
        size_t first = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i], expected_slice(p, static_cast<uint32_t>(i), first, c.per_packet[i]))
                << i;
            EXPECT_LE(got[i].size(), std::stoul(c.max));
            EXPECT_EQ(got[i].size() % 4, 0u);
            first += c.per_packet[i];
        }
        EXPECT_FALSE(collector.pending());
    }
}

TEST_F(ExporterSend, EventsThatCannotBeCutAreRefusedBeforeSending) {
    open("500");
    Packet p;
    p.add_patterned(3);
    Bytes good = p.encode();
    Bytes small_template = good;
    nftest::be16(small_template, 22, 5);
    Bytes huge_template = good;
    nftest::be16(huge_template, 22, 0xffff);
    struct Case {
        uint64_t value1;
        Bytes data;
        const char *warning;
    } cases[] = {
        {p.value1(), Bytes(good.begin(), good.begin() + 23),
         "[NetFlow Exporter] Event of 23 bytes is too short for a NetFlow packet"},
        {p.value1(), small_template,
         "[NetFlow Exporter] Event with an invalid template FlowSet length (5)"},
        {3u << 16, good, "[NetFlow Exporter] Event with a record length of 0 cannot be split"},
        {37u | (4u << 16), good,
         "[NetFlow Exporter] Event of 196 bytes is too short for its template and 4 records of 37 "
         "bytes"},
        {p.value1(), huge_template,
         "[NetFlow Exporter] Event of 196 bytes is too short for its template and 3 records of 37 "
         "bytes"},
        {p.value1(), Bytes(good.begin(), good.end() - 5),
         "[NetFlow Exporter] Event of 191 bytes is too short for its template and 3 records of 37 "
         "bytes"},
    };
    for (auto &c : cases) {
        LogCapture log(4);
        EXPECT_FALSE(feeder->whole(c.value1, c.data)) << c.warning;
        EXPECT_EQ(log.lines().at(0), (LogLine{4, c.warning}));
        EXPECT_FALSE(collector.pending()) << c.warning;
    }
    // Nothing was numbered: the next good event starts at 0.
    ASSERT_TRUE(feeder->whole(p.value1(), good));
    EXPECT_EQ(receive(1), (std::vector<Bytes>{expected_slice(p, 0, 0, 3)}));
}

// Bits 32 to 63 of value1 are not part of the layout.
TEST_F(ExporterSend, UpperBitsOfValue1AreIgnored) {
    open("500");
    Packet p;
    p.add_patterned(12);
    ASSERT_TRUE(feeder->whole(p.value1() | 0xabcdef0100000000ull, p.encode()));
    EXPECT_EQ(receive(2),
              (std::vector<Bytes>{expected_slice(p, 0, 0, 11), expected_slice(p, 1, 11, 1)}));
}

TEST_F(ExporterSend, ExtendedEventsAreSplitLikeWholeOnes) {
    open("1400");
    Packet p;
    p.add_patterned(100); // 3784 bytes in chunks of 1000 over five pages
    ASSERT_TRUE(feeder->extended(p.value1(), p.encode(), 1000));
    // (1400 - 84) / 37 = 35 records per packet
    EXPECT_EQ(receive(3),
              (std::vector<Bytes>{expected_slice(p, 0, 0, 35), expected_slice(p, 1, 35, 35),
                                  expected_slice(p, 2, 70, 30)}));
    EXPECT_FALSE(collector.pending());
}

// IPv4 UDP carries at most 65507 bytes: a maximum above it is accepted, and the packet
// that exceeds it fails to send, still using up its sequence number.
TEST_F(ExporterSend, FailedSendEndsTheEventAndUsesItsNumber) {
    open("65535");
    Packet big;
    big.fields = fields_with_record_length(38);
    big.add_patterned(1800); // 1722 records per packet: 84 + 65436 = 65520 bytes
    LogCapture log(4);
    EXPECT_FALSE(feeder->whole(big.value1(), big.encode()));
    EXPECT_EQ(log.texts(4),
              (std::vector<std::string>{
                  "[opaque events extractor] Unable to handle a relevant opaque event",
                  "[opaque events extractor] events block processing failed"}));
    EXPECT_FALSE(collector.pending()); // the remaining 78 records were not sent either

    Packet small;
    small.add_patterned(2);
    ASSERT_TRUE(feeder->whole(small.value1(), small.encode()));
    EXPECT_EQ(receive(1), (std::vector<Bytes>{expected_slice(small, 1, 0, 2)}));
}

TEST_F(ExporterSend, WholeEventTooLargeForUdpFails) {
    open(nullptr);
    Bytes huge(65508, 0x5a);
    EXPECT_FALSE(feeder->whole(0, huge));
    Bytes largest(65507, 0x5b);
    EXPECT_TRUE(feeder->whole(0, largest));
    EXPECT_EQ(receive(1), (std::vector<Bytes>{largest}));
}

} // namespace
