// tshark's NetFlow dissector reads the exporter's packets off the loopback interface:
// no malformed packet, no expert warning (it also checks sequence numbers per
// observation domain), and every flow with its field values.
#include <map>
#include <set>
#include <sstream>

#include "interop_traffic.h"
#include "process.h"

namespace {

using interop::Child;

std::vector<std::string> split(const std::string &s, char sep) {
    std::vector<std::string> out;
    std::string item;
    std::stringstream in(s);
    while (std::getline(in, item, sep))
        out.push_back(item);
    if (!s.empty() && s.back() == sep)
        out.push_back("");
    return out;
}

std::string hex(const std::string &s) {
    static const char *digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

void send_marker(uint16_t port, const std::string &text) {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sendto(fd, text.data(), text.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    close(fd);
}

enum Column {
    kFrame,
    kCount,
    kSequence,
    kSourceId,
    kSrcAddr,
    kOctets,
    kPackets,
    kSrcPort,
    kMalformed,
    kExpert,
    kPayload,
    kColumns
};

TEST(TsharkInterop, DissectorDecodesEveryPacketCleanly) {
    std::string tshark = interop::find_program("tshark");
    ASSERT_FALSE(tshark.empty()) << "tshark missing: tools/install-deps.sh installs it";
    nftest::Plugin plugin;
    ASSERT_NE(plugin.api(), nullptr);

    nftest::Collector sink; // takes the datagrams, so the port is never unreachable
    std::string port = sink.port_text();
    interop::TempDir dir;
    std::string log = dir.path() + "/tshark.log";
    Child capture;
    ASSERT_TRUE(capture.start({tshark,
                               "-i",
                               "lo",
                               "-l",
                               "-n",
                               "-f",
                               "udp dst port " + port,
                               "-d",
                               "udp.port==" + port + ",cflow",
                               "-T",
                               "fields",
                               "-E",
                               "separator=|",
                               "-e",
                               "frame.number",
                               "-e",
                               "cflow.count",
                               "-e",
                               "cflow.sequence",
                               "-e",
                               "cflow.source_id",
                               "-e",
                               "cflow.srcaddr",
                               "-e",
                               "cflow.octets",
                               "-e",
                               "cflow.packets",
                               "-e",
                               "cflow.srcport",
                               "-e",
                               "_ws.malformed",
                               "-e",
                               "_ws.expert.message",
                               "-e",
                               "udp.payload"},
                              log, true));

    // The capture runs once a probe shows up in its output.
    const std::string probe = hex("sentrel-probe"), end = hex("sentrel-end");
    std::string line;
    bool capturing = false;
    for (int i = 0; i < 300 && !capturing; ++i) {
        send_marker(sink.port(), "sentrel-probe");
        while (!capturing && capture.read_line(line, 100))
            capturing = line.find(probe) != std::string::npos;
    }
    ASSERT_TRUE(capturing) << interop::read_file(log);

    ASSERT_TRUE(interop::send_traffic(plugin, sink.port()));
    send_marker(sink.port(), "sentrel-end");

    std::vector<std::vector<std::string>> packets;
    bool ended = false;
    while (!ended && capture.read_line(line, 30000)) {
        auto cols = split(line, '|');
        ASSERT_EQ(cols.size(), static_cast<size_t>(kColumns)) << line;
        if (cols[kPayload] == probe)
            continue;
        if (cols[kPayload] == end) {
            ended = true;
            continue;
        }
        packets.push_back(cols);
    }
    ASSERT_TRUE(ended) << "the end marker never showed up";
    capture.signal(SIGTERM);
    capture.wait();

    std::map<std::string, uint32_t> by_source;
    for (uint32_t i = 0; i < 2000; ++i)
        if (interop::is_sent_flow(i))
            by_source[interop::flow(i).src_text()] = i;
    std::set<std::string> seen;
    std::map<std::string, std::vector<uint32_t>> sequences; // per source id
    EXPECT_EQ(packets.size(), interop::total_packets());
    for (auto &p : packets) {
        SCOPED_TRACE("frame " + p[kFrame]);
        EXPECT_EQ(p[kMalformed], "");
        EXPECT_EQ(p[kExpert], "");
        auto sources = split(p[kSrcAddr], ','), octets = split(p[kOctets], ','),
             pkts = split(p[kPackets], ','), ports = split(p[kSrcPort], ',');
        ASSERT_EQ(std::stoul(p[kCount]), sources.size() + 1);
        ASSERT_EQ(octets.size(), sources.size());
        ASSERT_EQ(pkts.size(), sources.size());
        ASSERT_EQ(ports.size(), sources.size());
        for (size_t k = 0; k < sources.size(); ++k) {
            ASSERT_TRUE(by_source.count(sources[k])) << sources[k];
            EXPECT_TRUE(seen.insert(sources[k]).second) << sources[k] << " twice";
            interop::Flow f = interop::flow(by_source[sources[k]]);
            EXPECT_EQ(std::stoul(octets[k]), f.bytes);
            EXPECT_EQ(std::stoul(pkts[k]), f.packets);
            EXPECT_EQ(std::stoul(ports[k]), f.src_port);
        }
        sequences[p[kSourceId]].push_back(static_cast<uint32_t>(std::stoul(p[kSequence])));
    }
    EXPECT_EQ(seen.size(), interop::total_flows());
    ASSERT_EQ(sequences.size(), 2u);
    for (auto &[domain, seqs] : sequences)
        for (size_t k = 0; k < seqs.size(); ++k)
            EXPECT_EQ(seqs[k], k) << "domain " << domain;
}

} // namespace
