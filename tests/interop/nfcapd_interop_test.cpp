// A real collector: nfcapd receives whole and split events, nfdump reads every flow back.
#include <sys/stat.h>

#include <ctime>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "interop_traffic.h"
#include "process.h"

namespace {

using interop::Child;

// Epoch milliseconds in nfdump's JSON time format (UTC).
std::string json_time(uint64_t ms) {
    time_t secs = static_cast<time_t>(ms / 1000);
    tm t{};
    gmtime_r(&secs, &t);
    char buf[64];
    strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &t);
    char out[80];
    snprintf(out, sizeof out, "%s.%03u", buf, static_cast<unsigned>(ms % 1000));
    return out;
}

bool wait_for_text(const std::string &path, const std::string &text, Child &child) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
        if (interop::read_file(path).find(text) != std::string::npos)
            return true;
        if (!child.running())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(NfcapdInterop, EveryFlowComesBackOnceWithoutSequenceFailures) {
    std::string nfcapd = interop::find_program("nfcapd"), nfdump = interop::find_program("nfdump");
    ASSERT_FALSE(nfcapd.empty() || nfdump.empty())
        << "nfcapd/nfdump missing: tools/install-deps.sh installs nfdump";
    nftest::Plugin plugin;
    ASSERT_NE(plugin.api(), nullptr);

    interop::TempDir dir;
    std::string flows = dir.path() + "/flows", log = dir.path() + "/nfcapd.log";
    ASSERT_EQ(mkdir(flows.c_str(), 0755), 0);
    // nfcapd repeats every datagram it takes to this socket: once all have come back,
    // nfcapd has read them all and may be stopped.
    nftest::Collector repeats;
    std::unique_ptr<Child> collector;
    uint16_t port = 0;
    for (int attempt = 0; attempt < 5 && !port; ++attempt) {
        uint16_t candidate = nftest::Collector().port(); // free a moment ago
        collector = std::make_unique<Child>();
        ASSERT_TRUE(
            collector->start({nfcapd, "-b", "127.0.0.1", "-p", std::to_string(candidate), "-w",
                              flows, "-B", "8000000", "-R", "127.0.0.1/" + repeats.port_text()},
                             log));
        if (wait_for_text(log, "Startup nfcapd", *collector))
            port = candidate;
    }
    ASSERT_NE(port, 0) << interop::read_file(log);

    ASSERT_TRUE(interop::send_traffic(plugin, port));
    for (uint32_t i = 0; i < interop::total_packets(); ++i)
        ASSERT_TRUE(repeats.receive(30000)) << "nfcapd took only " << i << " packets";
    collector->signal(SIGTERM);
    ASSERT_TRUE(collector->wait());

    std::string text = interop::run("TZ=UTC '" + nfdump + "' -R '" + flows + "' -o json");
    nlohmann::json records = nlohmann::json::parse(text, nullptr, false);
    ASSERT_TRUE(records.is_array()) << text.substr(0, 2000);
    std::map<std::string, int> seen;
    std::map<std::string, uint32_t> index;
    for (uint32_t i = 0; i < 2000; ++i)
        if (interop::is_sent_flow(i))
            index[interop::flow(i).src_text()] = i;
    for (auto &r : records) {
        std::string src = r.value("src4_addr", "");
        SCOPED_TRACE(src);
        ASSERT_TRUE(index.count(src)) << r.dump();
        seen[src]++;
        uint32_t i = index[src];
        interop::Flow f = interop::flow(i);
        EXPECT_EQ(r.value("in_bytes", 0u), f.bytes);
        EXPECT_EQ(r.value("in_packets", 0u), f.packets);
        EXPECT_EQ(r.value("proto", 0u), f.protocol);
        EXPECT_EQ(r.value("src_tos", 0u), f.tos);
        EXPECT_EQ(r.value("src_port", 0u), f.src_port);
        EXPECT_EQ(r.value("dst_port", 0u), f.dst_port);
        EXPECT_EQ(r.value("dst4_addr", ""), f.dst_text());
        EXPECT_EQ(r.value("src_as", 0u), f.src_as);
        EXPECT_EQ(r.value("output_snmp", 0u), f.output_snmp);
        EXPECT_EQ(r.value("export_sysid", 0u) != 0, true);
        // Switched times are sysUpTime-relative: UNIX Secs minus (uptime - switched).
        uint64_t boot_ms = 1760000000ull * 1000 - 600000;
        EXPECT_EQ(r.value("first", ""), json_time(boot_ms + f.first));
        EXPECT_EQ(r.value("last", ""), json_time(boot_ms + f.last));
    }
    EXPECT_EQ(records.size(), interop::total_flows());
    EXPECT_EQ(seen.size(), interop::total_flows());
    for (auto &[src, n] : seen)
        EXPECT_EQ(n, 1) << src;

    std::string info = interop::run("'" + nfdump + "' -R '" + flows + "' -I");
    EXPECT_NE(info.find("Flows: " + std::to_string(interop::total_flows()) + "\n"),
              std::string::npos)
        << info;
    EXPECT_NE(info.find("Sequence failures: 0\n"), std::string::npos) << info;
}

} // namespace
