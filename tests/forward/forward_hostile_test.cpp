// The forward output against hand-written receivers that answer wrongly: garbage, huge
// declared lengths, deep nesting, silence, hang-ups in the middle of the handshake, acks
// that never come. Each flush must fail cleanly (Retry) within its timeouts, and the
// next flush must work once the receiver behaves.
#include <arpa/inet.h>
#include <msgpack.h>

#include <atomic>
#include <future>

#include "engine/plugins/out_forward/reply_scan.h"
#include "fixture/loopback_tcp.h"
#include "tests/forward/forward_fixture.h"

namespace fwdtest {
namespace {

using engine::FlushResult;
using Props = std::vector<std::pair<std::string, std::string>>;

// Reads up to `cap` bytes, waiting at most `ms`; "" on timeout, EOF or error.
std::string read_some(int fd, int ms = 2000, size_t cap = 1 << 16) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return "";
    std::string buf(cap, '\0');
    ssize_t n = recv(fd, buf.data(), cap, 0);
    buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return buf;
}

// Reads until the peer is quiet for `quiet_ms` or hangs up: one whole message, however
// many segments it came in.
void read_message_bytes(int fd, int quiet_ms = 200) {
    while (!read_some(fd, quiet_ms).empty()) {
    }
}

// Reads one whole MessagePack message (bounded by the same pre-scan) and decodes it.
bool read_message(int fd, std::string *pending, msgpack_unpacked *out) {
    for (;;) {
        auto s = fwd::scan_stream_object(reinterpret_cast<const uint8_t *>(pending->data()), pending->size(),
                                         64u << 20, fwd::kMaxEventDepth);
        if (s.status == fwd::ScanStatus::Invalid)
            return false;
        if (s.status == fwd::ScanStatus::Complete) {
            size_t off = 0;
            bool ok = msgpack_unpack_next(out, pending->data(), s.length, &off) == MSGPACK_UNPACK_SUCCESS;
            pending->erase(0, s.length);
            return ok;
        }
        std::string more = read_some(fd, 5000);
        if (more.empty())
            return false;
        *pending += more;
    }
}

std::string packed(const std::function<void(msgpack_packer *)> &fill) {
    msgpack_sbuffer sb;
    msgpack_sbuffer_init(&sb);
    msgpack_packer pk;
    msgpack_packer_init(&pk, &sb, msgpack_sbuffer_write);
    fill(&pk);
    std::string out(sb.data, sb.size);
    msgpack_sbuffer_destroy(&sb);
    return out;
}

void pack_str(msgpack_packer *pk, const std::string &s) {
    msgpack_pack_str(pk, s.size());
    msgpack_pack_str_body(pk, s.data(), s.size());
}

std::string helo() {
    return packed([](msgpack_packer *pk) {
        msgpack_pack_array(pk, 2);
        pack_str(pk, "HELO");
        msgpack_pack_map(pk, 3);
        pack_str(pk, "nonce");
        msgpack_pack_bin(pk, 16);
        msgpack_pack_bin_body(pk, "0123456789abcdef", 16);
        pack_str(pk, "auth");
        pack_str(pk, "");
        pack_str(pk, "keepalive");
        msgpack_pack_true(pk);
    });
}

std::string pong(bool ok, const std::string &reason, const std::string &digest) {
    return packed([&](msgpack_packer *pk) {
        msgpack_pack_array(pk, 5);
        pack_str(pk, "PONG");
        ok ? msgpack_pack_true(pk) : msgpack_pack_false(pk);
        pack_str(pk, reason);
        pack_str(pk, "hostile-receiver");
        pack_str(pk, digest);
    });
}

std::string ack_for(const std::string &id) {
    return packed([&](msgpack_packer *pk) {
        msgpack_pack_map(pk, 1);
        pack_str(pk, "ack");
        pack_str(pk, id);
    });
}

// A well-behaved receiver without shared key: reads messages and acks those that ask.
void behave(int fd) {
    std::string pending;
    msgpack_unpacked msg;
    msgpack_unpacked_init(&msg);
    while (read_message(fd, &pending, &msg)) {
        const msgpack_object &o = msg.data;
        if (o.type == MSGPACK_OBJECT_ARRAY && o.via.array.size == 3 && o.via.array.ptr[2].type == MSGPACK_OBJECT_MAP) {
            const msgpack_object_map &m = o.via.array.ptr[2].via.map;
            for (uint32_t i = 0; i < m.size; ++i)
                if (m.ptr[i].key.type == MSGPACK_OBJECT_STR && m.ptr[i].key.via.str.size == 5 &&
                    memcmp(m.ptr[i].key.via.str.ptr, "chunk", 5) == 0)
                    testhost::send_all(fd, ack_for(std::string(m.ptr[i].val.via.str.ptr, m.ptr[i].val.via.str.size)));
        }
    }
    msgpack_unpacked_destroy(&msg);
}

// Listens on 127.0.0.1; the first connection gets `hostile`, later ones `behave`.
class ScriptedReceiver {
public:
    explicit ScriptedReceiver(std::function<void(int)> hostile) : hostile_(std::move(hostile)) {
        uint16_t port = 0;
        listen_fd_ = testhost::listen_loopback_tcp(8, &port);
        if (port)
            port_ = port;
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedReceiver() {
        stop_ = true;
        thread_.join();
        close(listen_fd_);
    }
    int port() const { return port_; }
    int connections() const { return connections_; }

private:
    void serve() {
        while (!stop_) {
            pollfd p{listen_fd_, POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            if (connections_++ == 0)
                hostile_(fd);
            else
                behave(fd);
            close(fd);
        }
    }
    std::function<void(int)> hostile_;
    int listen_fd_ = -1;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;
};

// Runs a flush on a thread of its own, so that a hang is seen (watchdog) and cut short.
FlushResult flush_with_watchdog(Output &out, const ChunkData &chunk) {
    auto done = std::async(std::launch::async, [&] { return out.flush(chunk); });
    if (done.wait_for(kWatchdog) != std::future_status::ready) {
        ADD_FAILURE() << "flush hung";
        out.abort();
    }
    return done.get();
}

struct Hostile {
    const char *name;
    bool shared_key;
    std::function<void(int)> script;
    const char *error;  // part of the log line of the failed flush
};

void after_ping(int fd, const std::string &answer) {
    testhost::send_all(fd, helo());
    read_some(fd);
    testhost::send_all(fd, answer);
    read_some(fd, 3000);  // keep the connection until the output gives up
}

const std::vector<Hostile> &hostile_cases() {
    static const std::vector<Hostile> cases = {
        {"text_instead_of_helo", true, [](int fd) { testhost::send_all(fd, "HTTP/1.1 400 Bad Request\r\n\r\n"); read_some(fd); },
         "the receiver's first message is not a HELO"},
        {"never_used_byte", true, [](int fd) { testhost::send_all(fd, "\xc1"); read_some(fd); },
         "malformed reply at byte 0: never-used byte 0xc1"},
        {"huge_string_length", true, [](int fd) { testhost::send_all(fd, std::string("\xdb\xff\xff\xff\xff", 5)); read_some(fd); },
         "declared length beyond the bytes allowed"},
        {"huge_array_count", true, [](int fd) { testhost::send_all(fd, std::string("\xdd\xff\xff\xff\xff", 5)); read_some(fd); },
         "declared element count beyond the bytes allowed"},
        {"huge_map_inside_helo", true,
         [](int fd) { testhost::send_all(fd, std::string("\x92\xa4HELO\xdf\x7f\xff\xff\xff", 11)); read_some(fd); },
         "declared element count beyond the bytes allowed"},
        {"deep_nesting", true, [](int fd) { testhost::send_all(fd, std::string(100000, '\x91')); read_some(fd); },
         "nesting too deep"},
        {"helo_of_wrong_shape", true,
         [](int fd) { testhost::send_all(fd, packed([](msgpack_packer *pk) { msgpack_pack_array(pk, 2); pack_str(pk, "HELO"); msgpack_pack_int(pk, 5); })); read_some(fd); },
         "not a HELO"},
        {"half_a_helo_then_close", true, [](int fd) { testhost::send_all(fd, helo().substr(0, 12)); },
         "no HELO: connection closed by the receiver"},
        {"silence", true, [](int fd) { read_some(fd, 3000); }, "no HELO: timed out"},
        // A reply that grows forever within its declared size: only the handshake's
        // deadline ends it.
        {"endless_trickle", true,
         [](int fd) {
             testhost::send_all(fd, std::string("\xdc\x7f\xff", 3));
             for (int i = 0; i < 300; ++i) {
                 testhost::send_all(fd, std::string(1, '\xc0'));
                 if (!read_some(fd, 10).empty())
                     break;
             }
         },
         "no HELO: timed out"},
        {"close_after_ping", true, [](int fd) { testhost::send_all(fd, helo()); read_some(fd); },
         "no PONG: connection closed by the receiver"},
        {"garbage_instead_of_pong", true, [](int fd) { after_ping(fd, "\xc1"); }, "never-used byte 0xc1"},
        {"huge_pong", true, [](int fd) { after_ping(fd, std::string("\xc6\x7f\xff\xff\xff", 5)); },
         "declared length beyond the bytes allowed"},
        {"pong_of_wrong_shape", true, [](int fd) { after_ping(fd, ack_for("x")); }, "is not a PONG"},
        {"pong_without_proof", true, [](int fd) { after_ping(fd, pong(true, "", "00")); },
         "the receiver's PONG does not prove the shared key"},
        {"pong_refusal", true, [](int fd) { after_ping(fd, pong(false, "go away", "")); },
         "authentication refused by the receiver: go away"},
        {"ack_never_comes", false, [](int fd) { read_message_bytes(fd, 3000); }, "no ack: timed out"},
        {"ack_of_another_chunk", false, [](int fd) { read_message_bytes(fd); testhost::send_all(fd, ack_for("bm90IHRoaXMgb25l")); read_some(fd); },
         "the receiver acknowledged another chunk"},
        {"ack_garbage", false, [](int fd) { read_message_bytes(fd); testhost::send_all(fd, "\xc1"); read_some(fd); }, "never-used byte"},
        {"ack_huge_binary", false,
         [](int fd) { read_message_bytes(fd); testhost::send_all(fd, std::string("\xc6\xff\xff\xff\xff", 5)); read_some(fd); },
         "declared length beyond the bytes allowed"},
        {"not_an_ack", false, [](int fd) { read_message_bytes(fd); testhost::send_all(fd, helo()); read_some(fd); },
         "the receiver's reply is not an ack"},
        {"close_before_ack", false, [](int fd) { read_message_bytes(fd); },
         "no ack: connection closed by the receiver"},
    };
    return cases;
}

void PrintTo(const Hostile &h, std::ostream *os) { *os << h.name; }

class ForwardHostile : public ::testing::TestWithParam<Hostile> {};

TEST_P(ForwardHostile, FailsCleanlyThenRecovers) {
    const Hostile &h = GetParam();
    ScriptedReceiver receiver(h.script);
    ASSERT_GT(receiver.port(), 0);
    Props props = {{"Port", std::to_string(receiver.port())}, {"Connect_Timeout", "1"}, {"Ack_Timeout", "1"},
                   {"Require_ack_response", "on"}};
    if (h.shared_key)
        props.push_back({"Shared_Key", "key"});
    Output out(props);
    ASSERT_EQ(out.init(), 0);
    ChunkData chunk = numbered_chunk("hostile", 0, 10);
    {
        StderrCapture err;
        EXPECT_EQ(flush_with_watchdog(out, chunk), FlushResult::Retry);
        EXPECT_NE(err.text().find(h.error), std::string::npos) << err.text();
    }
    if (!h.shared_key) {
        // The receiver behaves from its second connection on: the retry goes through.
        EXPECT_EQ(flush_with_watchdog(out, chunk), FlushResult::Ok);
        EXPECT_EQ(receiver.connections(), 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, ForwardHostile, ::testing::ValuesIn(hostile_cases()),
                         [](const ::testing::TestParamInfo<Hostile> &i) { return std::string(i.param.name); });

// A receiver that stops reading: the write stalls, and Ack_Timeout ends it.
TEST(ForwardStall, ReceiverThatStopsReadingFailsTheWrite) {
    std::atomic<bool> release{false};
    ScriptedReceiver receiver([&](int) { ASSERT_TRUE(wait_until([&] { return release.load(); })); });
    Output out({{"Port", std::to_string(receiver.port())}, {"Ack_Timeout", "1"}});
    ASSERT_EQ(out.init(), 0);
    std::vector<json> big;
    for (int i = 0; i < 2000; ++i)
        big.push_back({{"seq", i}, {"pad", std::string(16000, 'p')}});
    ChunkData chunk = make_chunk("stall", big);
    StderrCapture err;
    EXPECT_EQ(flush_with_watchdog(out, chunk), FlushResult::Retry);
    release = true;
    EXPECT_NE(err.text().find("write: write timed out"), std::string::npos) << err.text();
}

// The engine's stop cuts a long wait short through the abort descriptor.
TEST(ForwardStall, AbortEndsAHandshakeWait) {
    std::atomic<bool> release{false};
    ScriptedReceiver receiver([&](int) { ASSERT_TRUE(wait_until([&] { return release.load(); })); });
    Output out({{"Port", std::to_string(receiver.port())}, {"Shared_Key", "k"}, {"Connect_Timeout", "3600"}});
    ASSERT_EQ(out.init(), 0);
    ChunkData chunk = numbered_chunk("abort", 0, 1);
    StderrCapture err;
    auto done = std::async(std::launch::async, [&] { return out.flush(chunk); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it reach the wait; not a threshold
    out.abort();
    ASSERT_EQ(done.wait_for(kWatchdog), std::future_status::ready);
    EXPECT_EQ(done.get(), FlushResult::Retry);
    release = true;
    EXPECT_NE(err.text().find("no HELO: aborted by the engine's stop"), std::string::npos) << err.text();
}

}  // namespace
}  // namespace fwdtest
