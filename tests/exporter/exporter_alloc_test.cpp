// Allocation behaviour under the fault-injection allocator: no allocation per event or
// per packet, and every allocation failure during creation is reported and leaves
// nothing behind.
#include <dirent.h>

#include <cstdarg>
#include <cstdio>
#include <set>
#include <string>

#include "exporter_fixture.h"
#include "fault_inject.h"
#include "netflow_builder.h"
#include "support/vem_log.h"

namespace {

using nftest::Bytes;
using nftest::Collector;
using nftest::Options;
using nftest::Packet;
using nftest::Plugin;

// A log sink that allocates nothing, so it can run while allocations are made to fail.
struct QuietLog {
    static constexpr int kMax = 16;
    static inline char lines[kMax][512];
    static inline int levels[kMax];
    static inline int count = 0;
    static void sink(int level, const char *format, ...) {
        if (count >= kMax)
            return;
        va_list ap;
        va_start(ap, format);
        vsnprintf(lines[count], sizeof lines[count], format, ap);
        va_end(ap);
        levels[count++] = level;
    }
    QuietLog() {
        count = 0;
        vem_set_log_func(&QuietLog::sink, 7);
    }
    ~QuietLog() { vem_set_log_func(nullptr, 0); }
    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i)
            if (levels[i] <= 3)
                out.push_back(lines[i]);
        return out;
    }
};

int open_descriptors() {
    int n = 0;
    DIR *d = opendir("/proc/self/fd");
    while (d && readdir(d))
        ++n;
    if (d)
        closedir(d);
    return n;
}

TEST(ExporterAllocations, NonePerEventOrPacket) {
    Plugin plugin;
    const vem_exporter_api_t *api = plugin.api();
    ASSERT_NE(api, nullptr);
    vem_set_log_level(4);
    Collector collector;
    for (const char *max : {"500", ""}) {
        SCOPED_TRACE(max);
        Options o{{"netflow-collector-addr", "127.0.0.1"},
                  {"netflow-collector-port", collector.port_text()}};
        if (*max)
            o.set("netflow-max-packet-size", max);
        nftest::ExporterHandle h{api, api->create(o.dict())};
        ASSERT_NE(h.exporter, nullptr);

        Packet p;
        p.add_patterned(25);
        Bytes event = p.encode();
        size_t record_size = VEM_OPAQUE_EVENT_HEADER_SIZE + event.size();
        testhost::Page page;
        page.events(0, 1, 4);
        for (int i = 0; i < 4; ++i) {
            testhost::OpaqueRecord r;
            r.app = testhost::netflow_app_id();
            r.value1 = p.value1();
            r.data = event;
            page.record(r, record_size);
        }
        const vem_data_page_t *pg = page.finish();
        testhost::Types types;
        types.define_opaque(0, 1, record_size);
        types.calls.reserve(16);
        auto lookup = types.lookup();

        ASSERT_TRUE(api->process_data_page(h.exporter, pg, &lookup)); // warm-up
        unsigned long before = vem_fault_allocations();
        ASSERT_TRUE(api->process_data_page(h.exporter, pg, &lookup));
        ASSERT_TRUE(api->process_data_page(h.exporter, pg, &lookup));
        EXPECT_EQ(vem_fault_allocations() - before, 0u);
        size_t want = *max ? 8 * 3 : 8;
        for (size_t i = 0; i < want; ++i)
            ASSERT_TRUE(collector.receive());
    }
}

// Fails allocation 1, 2, ... of a creation until one succeeds. Every failed pass returns
// NULL with the errors of one creation step, the steps come in creation order, and no
// descriptor is left open.
TEST(ExporterAllocations, EveryCreationFailureIsReportedAndReleased) {
    Plugin plugin;
    const vem_exporter_api_t *api = plugin.api();
    ASSERT_NE(api, nullptr);
    Collector collector;
    Options o{{"netflow-collector-addr", "127.0.0.1"},
              {"netflow-collector-port", collector.port_text()},
              {"netflow-max-packet-size", "500"}};
    std::string where = "127.0.0.1:" + collector.port_text();
    const std::vector<std::vector<std::string>> steps = {
        {"[NetFlow Exporter] Unable to allocate exporter"},
        {"[NetFlow Exporter] Unable to create custom options"},
        {"[NetFlow Exporter] Unable to fill custom options"},
        {"[opaque events extractor] cannot allocate extractor",
         "[NetFlow Exporter] Unable to allocate opaque events exporter"},
        {"[NetFlow Exporter] unable to resolve address (" + where + ")",
         "[NetFlow Exporter] Unable to set collector " + where},
        {"[NetFlow Exporter] Cannot allocate packet buffer of 500 bytes",
         "[NetFlow Exporter] Unable to set max packet size 500"},
    };
    // Warm the logger and the resolver up outside the loop.
    {
        QuietLog log;
        nftest::ExporterHandle h{api, api->create(o.dict())};
        ASSERT_NE(h.exporter, nullptr);
    }
    int fds = open_descriptors();
    size_t last_step = 0;
    std::set<size_t> seen;
    void *created = nullptr;
    unsigned long passes = vem_fault_loop(
        [&] {
            QuietLog log;
            created = api->create(o.dict());
            if (!created) {
                auto errors = log.errors();
                size_t step = 0;
                while (step < steps.size() && steps[step] != errors)
                    ++step;
                EXPECT_LT(step, steps.size()) << (errors.empty() ? "no error" : errors.front());
                EXPECT_GE(step, last_step);
                last_step = step;
                seen.insert(step);
            }
        },
        [&](unsigned long n, bool fired) {
            EXPECT_EQ(created == nullptr, fired) << "allocation " << n;
            if (created)
                api->destroy(created);
            created = nullptr;
            EXPECT_EQ(open_descriptors(), fds) << "allocation " << n;
        });
    EXPECT_GE(passes, steps.size());
    EXPECT_EQ(seen.size(), steps.size());
}

} // namespace
