// White-box checks on the exporter record: sequence wrap-around, the destination entry
// and short sends. Linked against the static archive, so the hidden functions are
// reachable and this program's sendto stands in front of the C library's.
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>

#include <climits>
#include <cstdint>

#include "exporter/exporter_internal.h"
#include "exporter_fixture.h"
#include "netflow_builder.h"

namespace {

// When set, sendto sends the datagram but reports this many bytes fewer.
int short_by = 0;

} // namespace

extern "C" ssize_t sendto(int fd, const void *buf, size_t len, int flags, const struct sockaddr *to,
                          socklen_t tolen) {
    using fn = ssize_t (*)(int, const void *, size_t, int, const struct sockaddr *, socklen_t);
    static fn real = reinterpret_cast<fn>(dlsym(RTLD_NEXT, "sendto"));
    ssize_t n = real(fd, buf, len, flags, to, tolen);
    return n > 0 && short_by ? n - short_by : n;
}

namespace {

using nftest::Bytes;
using nftest::Collector;
using nftest::Options;
using nftest::Packet;

struct Exporter {
    explicit Exporter(const Collector &c, const char *max = nullptr) {
        Options o{{"netflow-collector-addr", "127.0.0.1"},
                  {"netflow-collector-port", c.port_text()}};
        if (max)
            o.set("netflow-max-packet-size", max);
        e = static_cast<vem_nf_exporter_t *>(vem_nf_exporter_create(o.dict()));
    }
    ~Exporter() { _vem_nf_exporter_destroy(e); }
    bool send(const Packet &p) {
        Bytes b = p.encode();
        return vem_nf_exporter_send_event(e, "src", "tag", nullptr, &nf_exporter_app_id, p.value1(),
                                          0, b.data(), static_cast<uint32_t>(b.size()));
    }
    vem_nf_exporter_t *e;
};

TEST(ExporterInternals, RecordAfterCreation) {
    Collector c;
    Exporter whole(c);
    ASSERT_NE(whole.e, nullptr);
    EXPECT_GE(whole.e->socket_fd, 0);
    ASSERT_NE(whole.e->collector, nullptr);
    EXPECT_EQ(whole.e->collector->ai_family, AF_INET);
    EXPECT_EQ(whole.e->collector->ai_socktype, SOCK_DGRAM);
    EXPECT_NE(whole.e->extractor, nullptr);
    EXPECT_EQ(whole.e->max_packet_size, 0);
    EXPECT_EQ(whole.e->packet_buffer, nullptr);
    EXPECT_EQ(whole.e->sequence_number, 0u);
    EXPECT_EQ(whole.e->extractor->callbacks.event_cb, &vem_nf_exporter_send_event);
    EXPECT_EQ(whole.e->extractor->callbacks.chunks_cb, nullptr);
    EXPECT_EQ(whole.e->extractor->callbacks.user_data, whole.e);
    EXPECT_EQ(0, memcmp(&whole.e->extractor->app_id, testhost::netflow_app_id().bytes, 16));

    Exporter split(c, "300");
    ASSERT_NE(split.e, nullptr);
    EXPECT_EQ(split.e->max_packet_size, 300);
    EXPECT_NE(split.e->packet_buffer, nullptr);
}

TEST(ExporterInternals, SequenceNumberWrapsAtUint32Max) {
    Collector c;
    Exporter x(c, "500");
    x.e->sequence_number = UINT32_MAX - 1;
    Packet p;
    p.add_patterned(25);
    ASSERT_TRUE(x.send(p));
    for (uint32_t want : {UINT32_MAX - 1, UINT32_MAX, 0u}) {
        auto b = c.receive();
        ASSERT_TRUE(b);
        EXPECT_EQ(nftest::decode(*b, 37).sequence, want);
    }
    EXPECT_EQ(x.e->sequence_number, 1u);
}

// Only the first entry of the resolved list is a destination.
TEST(ExporterInternals, DatagramsGoToTheFirstEntryOnly) {
    Collector first, second;
    Exporter x(first, "500");
    ASSERT_NE(x.e, nullptr);
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo *extra = nullptr;
    ASSERT_EQ(getaddrinfo("127.0.0.1", second.port_text().c_str(), &hints, &extra), 0);
    x.e->collector->ai_next = extra;
    Packet p;
    p.add_patterned(2);
    EXPECT_TRUE(x.send(p));
    Exporter whole(first);
    whole.e->collector->ai_next = extra;
    EXPECT_TRUE(whole.send(p));
    x.e->collector->ai_next = nullptr;
    whole.e->collector->ai_next = nullptr;
    freeaddrinfo(extra);
    EXPECT_TRUE(first.receive());
    EXPECT_TRUE(first.receive());
    EXPECT_FALSE(second.pending());
}

// A datagram is all or nothing: a send that reports fewer bytes is a failure, and the
// split path stops after it with its number used.
TEST(ExporterInternals, ShortSendCountsAsFailure) {
    Collector c;
    Exporter whole(c), split(c, "500");
    Packet p;
    p.add_patterned(25);
    short_by = 1;
    EXPECT_FALSE(whole.send(p));
    EXPECT_FALSE(split.send(p));
    short_by = 0;
    EXPECT_EQ(split.e->sequence_number, 1u);
    EXPECT_TRUE(c.receive()); // the whole event's datagram
    EXPECT_TRUE(c.receive()); // the first split packet only
    EXPECT_FALSE(c.pending());
    EXPECT_TRUE(split.send(p));
    EXPECT_EQ(split.e->sequence_number, 4u);
}

} // namespace
