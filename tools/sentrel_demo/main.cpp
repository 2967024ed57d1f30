// sentrel-demo: a host for the NetFlow exporter plug-in. It loads libsentrel with the
// dynamic loader, creates an exporter from options, synthesises NetFlow v9 events of
// IPv4 flows into data pages (some as extended events whose chunks span pages), feeds
// them, and has a built-in loopback collector check what arrives.
#include <unistd.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/sentrel_demo/flow_events.h"
#include "tools/sentrel_demo/loopback_collector.h"
#include "tools/sentrel_demo/page_writer.h"
#include "tools/sentrel_demo/plugin_host.h"

namespace {

using demo::Bytes;
using demo::FlowEvent;
using Clock = std::chrono::steady_clock;

const vem_app_id_t kNetflowApp = {{0x99, 0x10, 0xc1, 0x28, 0x39, 0x61, 0x47, 0xe6, 0xbe, 0x6c, 0x71,
                                   0x5a, 0x0f, 0x03, 0xad, 0xd6}};

struct Settings {
    std::string plugin;
    std::vector<std::pair<std::string, std::string>> options; // --option, in order
    std::string collector;                                    // host:port, or empty
    uint64_t events = 20000;
    uint32_t records = 60;
    uint32_t extended_every = 10;
    uint32_t extended_records = 240;
    uint32_t chunk_size = 1000;
    uint32_t chunks_per_page = 2;
    uint32_t events_per_page = 8;
    long pace_us = -1;
};

void usage(FILE *out) {
    fprintf(
        out,
        "usage: sentrel-demo [options]\n"
        "  --plugin PATH          the plug-in (default: ../lib/libsentrel.so beside this program)\n"
        "  --option KEY=VALUE     exporter option; an empty VALUE removes the key (repeatable)\n"
        "                         defaults: netflow-collector-addr=127.0.0.1, "
        "netflow-collector-port=<built-in\n"
        "                         collector>, netflow-max-packet-size=1400\n"
        "  --collector HOST:PORT  send to this collector instead of the built-in one (not "
        "checked)\n"
        "  --events N             events to send (default 20000)\n"
        "  --records N            flow records per whole event (default 60)\n"
        "  --extended-every K     every K-th event is an extended event sent in chunks (default "
        "10, 0: none)\n"
        "  --extended-records N   flow records per extended event (default 240)\n"
        "  --chunk-size BYTES     payload bytes per chunk (default 1000)\n"
        "  --chunks-per-page N    chunks per data page (default 2)\n"
        "  --events-per-page N    whole events per data page, 1 to 255 (default 8)\n"
        "  --pace-us N            pause after each page (default 0; 100 with --collector)\n");
}

bool parse_number(const char *text, uint64_t max, uint64_t &out) {
    char *end = nullptr;
    errno = 0;
    unsigned long long v = strtoull(text, &end, 10);
    if (!*text || *end || errno || v > max || text[0] == '-')
        return false;
    out = v;
    return true;
}

bool parse_args(int argc, char **argv, Settings &s) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage(stdout);
            exit(0);
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "sentrel-demo: %s needs a value\n", a.c_str());
            return false;
        }
        const char *v = argv[++i];
        uint64_t n = 0;
        auto number = [&](uint64_t max, auto &field) {
            if (!parse_number(v, max, n)) {
                fprintf(stderr, "sentrel-demo: bad value for %s: %s\n", a.c_str(), v);
                return false;
            }
            field = static_cast<std::remove_reference_t<decltype(field)>>(n);
            return true;
        };
        bool ok = true;
        if (a == "--plugin") {
            s.plugin = v;
        } else if (a == "--option") {
            const char *eq = strchr(v, '=');
            if (!eq || eq == v) {
                fprintf(stderr, "sentrel-demo: --option wants KEY=VALUE, got %s\n", v);
                return false;
            }
            s.options.emplace_back(std::string(v, eq), std::string(eq + 1));
        } else if (a == "--collector") {
            s.collector = v;
        } else if (a == "--events") {
            ok = number(UINT32_MAX, s.events);
        } else if (a == "--records") {
            ok = number(1000, s.records);
        } else if (a == "--extended-every") {
            ok = number(UINT32_MAX, s.extended_every);
        } else if (a == "--extended-records") {
            ok = number(60000, s.extended_records);
        } else if (a == "--chunk-size") {
            ok = number(60000, s.chunk_size) && s.chunk_size > 0;
        } else if (a == "--chunks-per-page") {
            ok = number(255, s.chunks_per_page) && s.chunks_per_page > 0;
        } else if (a == "--events-per-page") {
            ok = number(255, s.events_per_page) && s.events_per_page > 0;
        } else if (a == "--pace-us") {
            ok = number(1000000, s.pace_us);
        } else {
            fprintf(stderr, "sentrel-demo: unknown argument %s\n", a.c_str());
            usage(stderr);
            return false;
        }
        if (!ok) {
            fprintf(stderr, "sentrel-demo: bad value for %s: %s\n", a.c_str(), v);
            return false;
        }
    }
    return true;
}

void set_option(std::vector<std::pair<std::string, std::string>> &opts, const std::string &k,
                const std::string &v) {
    for (auto it = opts.begin(); it != opts.end(); ++it)
        if (it->first == k) {
            if (v.empty())
                opts.erase(it);
            else
                it->second = v;
            return;
        }
    if (!v.empty())
        opts.emplace_back(k, v);
}

const std::string *find_option(const std::vector<std::pair<std::string, std::string>> &opts,
                               const char *k) {
    for (auto &kv : opts)
        if (kv.first == k)
            return &kv.second;
    return nullptr;
}

// An extended event on its way: the start record has gone out, chunks follow.
struct InFlight {
    FlowEvent event;
    uint32_t id = 0;
    size_t sent = 0;
    bool started = false;
};

struct Totals {
    uint64_t pages = 0, refused_pages = 0;
    uint64_t whole = 0, extended = 0, chunks = 0;
    uint64_t records = 0, digest = 0, expected_packets = 0, payload_bytes = 0;
};

} // namespace

int main(int argc, char **argv) {
    Settings s;
    if (!parse_args(argc, argv, s))
        return 2;
    if (s.plugin.empty())
        s.plugin = demo::default_plugin_path();

    // The plug-in logs nothing unless asked; show its warnings and errors by default.
    setenv("VEM_API_LOG_LEVEL", "4", 0);
    demo::PluginHost host;
    std::string error;
    if (!host.load(s.plugin, error)) {
        fprintf(stderr, "sentrel-demo: cannot load %s: %s\n", s.plugin.c_str(), error.c_str());
        return 2;
    }
    demo::FlowSynth synth;
    if (!synth.init(host, error)) {
        fprintf(stderr, "sentrel-demo: %s\n", error.c_str());
        return 2;
    }

    // Options: defaults, then --collector, then every --option in order.
    std::vector<std::pair<std::string, std::string>> options = {
        {"netflow-collector-addr", "127.0.0.1"},
        {"netflow-collector-port", ""},
        {"netflow-max-packet-size", "1400"}};
    if (!s.collector.empty()) {
        size_t colon = s.collector.rfind(':');
        if (colon == std::string::npos || colon == 0 || colon + 1 == s.collector.size()) {
            fprintf(stderr, "sentrel-demo: --collector wants HOST:PORT\n");
            return 2;
        }
        std::string h = s.collector.substr(0, colon);
        if (h.size() > 2 && h.front() == '[' && h.back() == ']')
            h = h.substr(1, h.size() - 2);
        options[0].second = h;
        options[1].second = s.collector.substr(colon + 1);
    }
    bool builtin = s.collector.empty();
    for (auto &kv : s.options) {
        if (kv.first == "netflow-collector-addr" || kv.first == "netflow-collector-port")
            builtin = false;
        set_option(options, kv.first, kv.second);
    }
    if (s.pace_us < 0)
        s.pace_us = builtin ? 0 : 100;

    uint32_t max_packet = 0;
    if (const std::string *m = find_option(options, "netflow-max-packet-size"))
        max_packet = static_cast<uint32_t>(strtoul(m->c_str(), nullptr, 0));

    demo::LoopbackCollector collector;
    if (builtin) {
        if (!collector.start(max_packet, error)) {
            fprintf(stderr, "sentrel-demo: built-in collector: %s\n", error.c_str());
            return 2;
        }
        set_option(options, "netflow-collector-port", std::to_string(collector.port()));
    }
    std::vector<std::pair<std::string, std::string>> given;
    for (auto &kv : options)
        if (!kv.second.empty() || kv.first != "netflow-collector-port")
            given.push_back(kv);

    void *exporter = host.create_exporter(given);
    if (!exporter) {
        fprintf(stderr, "sentrel-demo: the plug-in created no exporter (see its log above; "
                        "VEM_API_LOG_LEVEL=7 shows all)\n");
        return 2;
    }
    std::string kept;
    for (auto &kv : host.exporter_options(exporter))
        kept += " " + kv.first + "=" + kv.second;

    demo::TypeRegistry types;
    const size_t whole_record =
        VEM_OPAQUE_EVENT_HEADER_SIZE + size_t{synth.payload_size(s.records)};
    const size_t chunk_record = VEM_OPAQUE_EVENT_HEADER_SIZE + std::max<size_t>(s.chunk_size, 64);
    const size_t sample_record = 48;
    types.define(demo::TypeRegistry::kWholeEvents, "opaque_event_netflow", whole_record);
    types.define(demo::TypeRegistry::kChunks, "opaque_event_netflow_ext", chunk_record);
    types.define(demo::TypeRegistry::kInterfaceSamples, "interface_counters", sample_record);
    vem_type_def_lookup_t lookup = types.lookup();

    demo::PageWriter page("sentrel-demo", "netflow");
    Totals t;
    std::deque<InFlight> waiting;
    uint64_t next_event = 0;
    uint32_t sequence = 0, next_id = 1;
    // Packets in flight before the host waits for the collector: what its queue holds.
    const uint64_t window = collector.queue_packets();
    auto started = Clock::now();
    auto last_progress = started;
    bool stalled = false;

    while ((next_event < s.events || !waiting.empty()) && !stalled) {
        page.begin();
        page.schemas(32);

        // Whole events, each one complete in one record.
        std::vector<FlowEvent> whole;
        while (next_event < s.events && whole.size() < s.events_per_page && waiting.size() < 4) {
            bool extended =
                s.extended_every && next_event % s.extended_every == s.extended_every - 1;
            ++next_event;
            if (extended) {
                InFlight f;
                f.event = synth.next(s.extended_records, sequence++);
                f.id = next_id++;
                waiting.push_back(std::move(f));
            } else {
                whole.push_back(synth.next(s.records, sequence++));
            }
        }
        if (!whole.empty()) {
            page.events_block(demo::TypeRegistry::kWholeEvents, static_cast<uint8_t>(whole.size()));
            for (auto &e : whole) {
                page.opaque(whole_record, VEM_OPAQUE_EVENT_WHOLE, 0, 0, kNetflowApp, e.value1,
                            e.payload.data(), static_cast<uint32_t>(e.payload.size()));
                t.whole++;
                t.records += e.records;
                t.digest += e.digest;
                t.expected_packets += synth.packets_for(e.records, max_packet);
                t.payload_bytes += e.payload.size();
            }
        }

        // Host records that are not opaque events: the exporter skips the block.
        page.events_block(demo::TypeRegistry::kInterfaceSamples, 2);
        page.plain_record(sample_record, t.pages);
        page.plain_record(sample_record, t.pages + 1);

        // Extended events: a start record with meta pairs, then chunks over later pages.
        std::vector<std::pair<InFlight *, size_t>> pieces; // event, chunk offset (SIZE_MAX: start)
        size_t budget = s.chunks_per_page;
        for (auto it = waiting.begin(); it != waiting.end() && budget > 0 && pieces.size() < 250;) {
            InFlight &f = *it;
            if (!f.started) {
                pieces.emplace_back(&f, SIZE_MAX);
                f.started = true;
            }
            while (budget > 0 && f.sent < f.event.payload.size()) {
                pieces.emplace_back(&f, f.sent);
                f.sent += std::min<size_t>(s.chunk_size, f.event.payload.size() - f.sent);
                --budget;
            }
            break; // one event in progress per source and tag
        }
        if (!pieces.empty()) {
            page.events_block(demo::TypeRegistry::kChunks, static_cast<uint8_t>(pieces.size()));
            for (auto &[f, offset] : pieces) {
                const Bytes &payload = f->event.payload;
                if (offset == SIZE_MAX) {
                    std::string meta = "producer=sentrel-demo";
                    meta.push_back('\0');
                    meta += "event=" + std::to_string(f->id);
                    meta.push_back('\0');
                    page.opaque(chunk_record, VEM_OPAQUE_EVENT_EXTENDED,
                                static_cast<uint32_t>(payload.size()), f->id, kNetflowApp,
                                f->event.value1, reinterpret_cast<const uint8_t *>(meta.data()),
                                static_cast<uint32_t>(meta.size()));
                    continue;
                }
                uint32_t n =
                    static_cast<uint32_t>(std::min<size_t>(s.chunk_size, payload.size() - offset));
                page.opaque(chunk_record, VEM_OPAQUE_EVENT_CHUNK, static_cast<uint32_t>(offset),
                            f->id, kNetflowApp, 0, payload.data() + offset, n);
                t.chunks++;
            }
            InFlight &front = waiting.front();
            if (front.started && front.sent == front.event.payload.size()) {
                t.extended++;
                t.records += front.event.records;
                t.digest += front.event.digest;
                t.expected_packets += synth.packets_for(front.event.records, max_packet);
                t.payload_bytes += front.event.payload.size();
                waiting.pop_front();
            }
        }

        t.pages++;
        if (!host.api()->process_data_page(exporter, page.finish(), &lookup))
            t.refused_pages++;

        if (builtin) {
            // Loopback UDP drops what the receiver has no room for: stay a window ahead.
            auto waited = Clock::now();
            uint64_t seen = collector.packets();
            while (t.expected_packets > collector.packets() + window) {
                std::this_thread::sleep_for(std::chrono::microseconds(50));
                if (collector.packets() != seen) {
                    seen = collector.packets();
                    waited = Clock::now();
                } else if (Clock::now() - waited > std::chrono::seconds(10)) {
                    stalled = true; // datagrams were lost; the verdict will say so
                    break;
                }
            }
        } else if (s.pace_us > 0) {
            std::this_thread::sleep_for(std::chrono::microseconds(s.pace_us));
        }
        auto now = Clock::now();
        if (now - last_progress > std::chrono::seconds(1)) {
            last_progress = now;
            printf("progress: %" PRIu64 " pages, %" PRIu64 " of %" PRIu64 " events, %" PRIu64
                   " records%s\n",
                   t.pages, t.whole + t.extended, s.events, t.records,
                   builtin
                       ? (", " + std::to_string(collector.packets()) + " packets received").c_str()
                       : "");
            fflush(stdout);
        }
    }
    double fed_seconds = std::chrono::duration<double>(Clock::now() - started).count();

    // Let the collector drain its socket (watchdog only: it stops once nothing moves).
    if (builtin) {
        auto quiet_since = Clock::now();
        uint64_t seen = collector.records();
        while (collector.records() < t.records &&
               Clock::now() - quiet_since < std::chrono::seconds(10)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (collector.records() != seen) {
                seen = collector.records();
                quiet_since = Clock::now();
            }
        }
        collector.stop();
    }
    double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    host.api()->destroy(exporter);

    const demo::CollectorTally &c = collector.tally();
    uint64_t packets = builtin ? c.packets : t.expected_packets;
    printf("sentrel-demo summary\n");
    printf("  plug-in            %s (%s: %s)\n", s.plugin.c_str(), host.api()->name,
           host.api()->description);
    printf("  exporter options  %s\n", kept.c_str());
    printf("  pages              %" PRIu64 " (%" PRIu64 " refused)\n", t.pages, t.refused_pages);
    printf("  events             %" PRIu64 " (%" PRIu64 " whole, %" PRIu64 " extended in %" PRIu64
           " chunks)\n",
           t.whole + t.extended, t.whole, t.extended, t.chunks);
    printf("  packets            %" PRIu64 "%s (expected %" PRIu64 ")\n", packets,
           builtin ? " received" : " sent", t.expected_packets);
    printf("  records            %" PRIu64 "%s\n", builtin ? c.records : t.records,
           builtin ? (" received of " + std::to_string(t.records)).c_str() : "");
    printf("  bytes              %" PRIu64 "%s\n", builtin ? c.bytes : t.payload_bytes,
           builtin ? " received" : " of event payload");
    printf("  time               %.3f s feeding, %.3f s in all\n", fed_seconds, seconds);
    printf("  packets/s          %.0f\n", seconds > 0 ? packets / seconds : 0.0);

    bool pages_ok = t.refused_pages == 0 && !stalled;
    if (!builtin) {
        printf("  collector verdict  not checked (external collector %s); %s\n",
               (given[0].second + ":" + given[1].second).c_str(),
               pages_ok ? "every page accepted" : "pages refused");
        return pages_ok ? 0 : 1;
    }
    std::vector<std::string> wrong;
    if (!pages_ok)
        wrong.push_back(stalled ? "the collector stopped receiving" : "pages refused");
    if (c.records != t.records)
        wrong.push_back(std::to_string(c.records) + " of " + std::to_string(t.records) +
                        " records arrived");
    else if (c.digest != t.digest)
        wrong.push_back("record contents differ");
    if (c.packets != t.expected_packets)
        wrong.push_back(std::to_string(c.packets) + " packets instead of " +
                        std::to_string(t.expected_packets));
    if (c.malformed || c.count_mismatches || c.unknown_template)
        wrong.push_back("undecodable packets: " + c.first_problem);
    if (c.oversized || c.unaligned)
        wrong.push_back("packet sizes: " + c.first_problem);
    if (!collector.sequences_contiguous())
        wrong.push_back("sequence numbers not contiguous");
    if (max_packet && c.packets && (c.out_of_order || c.first_sequence != 0))
        wrong.push_back("sequence numbers of split packets not consecutive from 0");
    if (wrong.empty() && c.packets == 0) {
        printf("  collector verdict  correct: nothing to send and nothing received\n");
        return 0;
    }
    if (wrong.empty()) {
        printf("  collector verdict  correct: every record once, Counts match, sequence %" PRIu32
               "..%" PRIu32 " without gaps\n",
               c.first_sequence, c.last_sequence);
        return 0;
    }
    printf("  collector verdict  WRONG:");
    for (auto &w : wrong)
        printf(" %s;", w.c_str());
    printf("\n");
    return 1;
}
