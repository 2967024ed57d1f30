// The API table, exporter creation and its failures, options and destruction, driven
// through the table of the dlopened plug-in.
#include <dirent.h>
#include <netdb.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "exporter_fixture.h"
#include "fixture/log_capture.h"
#include "netflow_builder.h"

namespace {

using nftest::Collector;
using nftest::ExporterHandle;
using nftest::Options;
using nftest::Plugin;
using testhost::LogCapture;
using testhost::LogLine;

int open_descriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (d && readdir(d))
        ++n;
    if (d)
        closedir(d);
    return n;
}

class ExporterLifecycle : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(plugin.api(), nullptr) << dlerror(); }
    const vem_exporter_api_t *api() const { return plugin.api(); }
    Plugin plugin;
};

TEST_F(ExporterLifecycle, TableNamesTheExporterAndItsOptions) {
    const vem_exporter_api_t *t = api();
    auto get = reinterpret_cast<const vem_exporter_api_t *(*)()>(
        dlsym(plugin.handle(), "vem_exporter_get_api"));
    EXPECT_EQ(get(), t);
    EXPECT_EQ(t, dlsym(plugin.handle(), "nf_exporter_api"));
    EXPECT_EQ(t->api_version, 1);
    EXPECT_STREQ(t->name, "sentrel");
    EXPECT_STREQ(t->description, "netflow protocol exporter");
    EXPECT_NE(t->create, nullptr);
    EXPECT_NE(t->process_data_page, nullptr);
    EXPECT_NE(t->get_options, nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(t->destroy),
              dlsym(plugin.handle(), "_vem_nf_exporter_destroy"));
    EXPECT_EQ(t->reserved_1, nullptr);
    EXPECT_EQ(t->reserved_2, nullptr);
    EXPECT_EQ(t->reserved_3, nullptr);
    EXPECT_EQ(t->reserved_4, nullptr);
    EXPECT_STREQ(t->option_names[0], "netflow-collector-addr");
    EXPECT_STREQ(t->option_names[1], "netflow-collector-port");
    EXPECT_STREQ(t->option_names[2], "netflow-max-packet-size");
    for (int i = 3; i < VEM_EXPORTER_OPTION_SLOTS; ++i)
        EXPECT_EQ(t->option_names[i], nullptr) << i;
}

TEST_F(ExporterLifecycle, MissingCollectorKeysDisableTheExporter) {
    struct Case {
        std::vector<std::pair<const char *, std::string>> options;
        const char *message;
    } cases[] = {
        {{}, "[NetFlow Exporter] Disabled by configuration (no netflow-collector-addr)"},
        {{{"netflow-collector-port", "2055"}},
         "[NetFlow Exporter] Disabled by configuration (no netflow-collector-addr)"},
        {{{"netflow-collector-addr", "127.0.0.1"}, {"netflow-max-packet-size", "500"}},
         "[NetFlow Exporter] Disabled by configuration (no netflow-collector-port)"},
    };
    for (auto &c : cases) {
        Options o;
        for (auto &p : c.options)
            o.set(p.first, p.second);
        LogCapture log;
        EXPECT_EQ(api()->create(o.dict()), nullptr);
        EXPECT_EQ(log.lines(), (std::vector<LogLine>{{6, c.message}}));
    }
}

TEST_F(ExporterLifecycle, CreatedExporterKeepsTheHostsTexts) {
    Collector collector;
    LogCapture log;
    {
        Options o{{"netflow-collector-addr", "127.0.0.1"},
                  {"netflow-collector-port", collector.port_text()},
                  {"other", "x"}};
        ExporterHandle h{api(), api()->create(o.dict())};
        ASSERT_NE(h.exporter, nullptr);
        o.set("netflow-collector-port", "1"); // the exporter holds its own copy
        EXPECT_EQ(nftest::dict_contents(api()->get_options(h.exporter)),
                  (std::map<std::string, std::string>{
                      {"netflow-collector-addr", "127.0.0.1"},
                      {"netflow-collector-port", collector.port_text()}}));
    }
    {
        Options o{{"netflow-collector-addr", "127.0.0.1"},
                  {"netflow-collector-port", collector.port_text()},
                  {"netflow-max-packet-size", "0x1f4"}};
        ExporterHandle h{api(), api()->create(o.dict())};
        ASSERT_NE(h.exporter, nullptr);
        vem_dict_t d = api()->get_options(h.exporter);
        EXPECT_EQ(api()->get_options(h.exporter), d);
        EXPECT_EQ(nftest::dict_contents(d), (std::map<std::string, std::string>{
                                                {"netflow-collector-addr", "127.0.0.1"},
                                                {"netflow-collector-port", collector.port_text()},
                                                {"netflow-max-packet-size", "0x1f4"}}));
    }
    std::string set =
        "[NetFlow Exporter] collector address set to 127.0.0.1:" + collector.port_text();
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{{6, set}, {6, set}}));
}

TEST_F(ExporterLifecycle, MaxPacketSizeBounds) {
    Collector collector;
    struct Case {
        const char *text;
        bool accepted;
    } cases[] = {{"300", true},    {"65535", true}, {"1400", true},   {"299", false},  {"0", false},
                 {"65536", false}, {"-1", false},   {"large", false}, {"500 ", false}, {"", false}};
    for (auto &c : cases) {
        Options o{{"netflow-collector-addr", "127.0.0.1"},
                  {"netflow-collector-port", collector.port_text()},
                  {"netflow-max-packet-size", c.text}};
        int fds = open_descriptors();
        LogCapture log;
        ExporterHandle h{api(), api()->create(o.dict())};
        std::string set =
            "[NetFlow Exporter] collector address set to 127.0.0.1:" + collector.port_text();
        if (c.accepted) {
            EXPECT_NE(h.exporter, nullptr) << c.text;
            EXPECT_EQ(log.lines(), (std::vector<LogLine>{{6, set}})) << c.text;
        } else {
            EXPECT_EQ(h.exporter, nullptr) << c.text;
            EXPECT_EQ(
                log.lines(),
                (std::vector<LogLine>{
                    {6, set},
                    {3, std::string("[NetFlow Exporter] Invalid max_packet_size (") + c.text + ")"},
                    {3,
                     std::string("[NetFlow Exporter] Unable to set max packet size ") + c.text}}))
                << c.text;
            EXPECT_EQ(open_descriptors(), fds) << "socket left open for " << c.text;
        }
    }
}

TEST_F(ExporterLifecycle, CollectorMustResolveWithANumericPort) {
    struct Case {
        const char *addr;
        const char *port;
    } cases[] = {{"127.0.0.1", "domain"},
                 {"127.0.0.1", "2055x"},
                 {"no-such-host.invalid", "2055"},
                 {"", "2055"},
                 {"127.0.0.1", "99999"}};
    for (auto &c : cases) {
        Options o{{"netflow-collector-addr", c.addr}, {"netflow-collector-port", c.port}};
        int fds = open_descriptors();
        LogCapture log;
        EXPECT_EQ(api()->create(o.dict()), nullptr) << c.addr << ":" << c.port;
        std::string where = std::string(c.addr) + ":" + c.port;
        EXPECT_EQ(log.lines(),
                  (std::vector<LogLine>{
                      {3, "[NetFlow Exporter] unable to resolve address (" + where + ")"},
                      {3, "[NetFlow Exporter] Unable to set collector " + where}}))
            << where;
        EXPECT_EQ(open_descriptors(), fds);
    }
}

TEST_F(ExporterLifecycle, SocketFailureIsReportedWithItsErrno) {
    Options o{{"netflow-collector-addr", "127.0.0.1"}, {"netflow-collector-port", "2055"}};
    rlimit saved{};
    getrlimit(RLIMIT_NOFILE, &saved);
    // No descriptor left: the socket call fails with EMFILE.
    rlimit none = saved;
    int lowest_free = dup(0);
    close(lowest_free);
    none.rlim_cur = static_cast<rlim_t>(lowest_free);
    auto create = api()->create; // nothing but the call itself while no descriptor is free
    vem_dict_t dict = o.dict();
    LogCapture log;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    void *e = create(dict);
    setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(log.lines(), (std::vector<LogLine>{
                               {3, "[NetFlow Exporter] unable to create socket (" +
                                       std::to_string(EMFILE) + ")"},
                               {3, "[NetFlow Exporter] Unable to set collector 127.0.0.1:2055"}}));
    if (e)
        api()->destroy(e);
}

// The first entry of the resolver's answer is the destination, whatever follows it.
TEST_F(ExporterLifecycle, NameWithSeveralAddressesUsesTheFirst) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *list = nullptr;
    ASSERT_EQ(getaddrinfo("localhost", "1", &hints, &list), 0);
    int first_family = list->ai_family;
    freeaddrinfo(list);

    // Collectors on the same port on both loopback addresses; retry until a port is free on both.
    std::unique_ptr<Collector> v4, v6;
    for (int attempt = 0; attempt < 20; ++attempt) {
        v4 = std::make_unique<Collector>(AF_INET);
        v6 = std::make_unique<Collector>(AF_INET6, v4->port());
        if (v6->bound())
            break;
    }
    ASSERT_TRUE(v6->bound());
    Options o{{"netflow-collector-addr", "localhost"}, {"netflow-collector-port", v4->port_text()}};
    ExporterHandle h{api(), api()->create(o.dict())};
    ASSERT_NE(h.exporter, nullptr);
    nftest::EventFeeder feed(api(), h.exporter);
    nftest::Packet p;
    p.add_patterned(2);
    ASSERT_TRUE(feed.whole(p.value1(), p.encode()));
    Collector &winner = first_family == AF_INET6 ? *v6 : *v4;
    Collector &loser = first_family == AF_INET6 ? *v4 : *v6;
    EXPECT_EQ(winner.receive(), p.encode());
    EXPECT_FALSE(loser.pending());
}

TEST_F(ExporterLifecycle, Ipv6Collector) {
    Collector collector(AF_INET6);
    ASSERT_TRUE(collector.bound());
    Options o{{"netflow-collector-addr", "::1"},
              {"netflow-collector-port", collector.port_text()},
              {"netflow-max-packet-size", "300"}};
    ExporterHandle h{api(), api()->create(o.dict())};
    ASSERT_NE(h.exporter, nullptr);
    nftest::EventFeeder feed(api(), h.exporter);
    nftest::Packet p;
    p.add_patterned(12); // 300 bytes hold 5 records of 37 behind a 60-byte template
    ASSERT_TRUE(feed.whole(p.value1(), p.encode()));
    for (uint32_t want : {5u, 5u, 2u}) {
        auto got = collector.receive();
        ASSERT_TRUE(got);
        auto d = nftest::decode(*got, 37);
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.count, want + 1);
        EXPECT_LE(got->size(), 300u);
    }
}

TEST_F(ExporterLifecycle, NullHandlesAreRefused) {
    EXPECT_FALSE(api()->process_data_page(nullptr, nullptr, nullptr));
    EXPECT_EQ(api()->get_options(nullptr), nullptr);
    api()->destroy(nullptr);
}

} // namespace
