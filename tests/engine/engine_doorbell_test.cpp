// The doorbell from the input's side: a test client sends 16-byte requests to the
// "raw_msgpack" input and reads its answers; records are checked where the "stdout"
// output writes them.
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>

#include <limits>

#include "engine_test_support.h"

using namespace enginetest;

namespace {

class Doorbell : public ::testing::Test {
  protected:
    void start(const char *output = "null") {
        out_ = engine_.add_output(output);
        ASSERT_GE(out_, 0);
        ASSERT_TRUE(engine_.start());
    }
    raw_msgpack_answer_t ring(const std::string &buffer) {
        auto a = client_.ring(engine_.path(), buffer);
        return a ? *a : raw_msgpack_answer_t{99, 99, {}};
    }
    TestEngine engine_;
    DoorbellClient client_;
    int out_ = -1;
};

TEST_F(Doorbell, AnswerIsSixteenBytesWithStatusCountAndZeros) {
    start();
    std::string buffer = Pack().array(2).uint(1).record("a").array(2).uint(2).record("b").bytes();
    raw_msgpack_answer_t a = ring(buffer);
    EXPECT_EQ(a.status, RAW_MSGPACK_ACCEPTED);
    EXPECT_EQ(a.records, 2u);
    for (uint8_t z : a.zero)
        EXPECT_EQ(z, 0);
}

struct ShapeCase {
    const char *name;
    std::string buffer;
    uint32_t records;
};

TEST_F(Doorbell, EveryShapeAndTimeFormIsAccepted) {
    start();
    const ShapeCase cases[] = {
        {"bare map", Pack().record("x").bytes(), 1},
        {"empty map", Pack().map(0).bytes(), 1},
        {"[int, map]", Pack().array(2).uint(1700000000).record("x").bytes(), 1},
        {"[uint32 max, map]", Pack().array(2).uint(UINT32_MAX).record("x").bytes(), 1},
        {"[float64, map]", Pack().array(2).f64(1700000000.25).record("x").bytes(), 1},
        {"[float32, map]", Pack().array(2).f32(1.5f).record("x").bytes(), 1},
        {"[EventTime, map]", Pack().array(2).event_time(1700000000, 5).record("x").bytes(), 1},
        {"[ext8 EventTime, map]", hex("92 c7 08 00 65 53 f1 00 00 00 00 07 80"), 1},
        {"[[int, meta], map]",
         Pack().array(2).array(2).uint(3).map(1).str("k").str("v").record("x").bytes(), 1},
        {"[[EventTime, {}], map]",
         Pack().array(2).array(2).event_time(3, 4).map(0).record("x").bytes(), 1},
        {"nested record",
         Pack()
             .array(2)
             .uint(1)
             .map(2)
             .str("a")
             .array(2)
             .nil()
             .f64(2.5)
             .str("b")
             .map(1)
             .uint(1)
             .str("one")
             .bytes(),
         1},
        {"three events of mixed shapes",
         Pack()
             .record("a")
             .array(2)
             .uint(1)
             .record("b")
             .array(2)
             .array(2)
             .event_time(1, 2)
             .map(0)
             .record("c")
             .bytes(),
         3},
    };
    for (const auto &c : cases) {
        raw_msgpack_answer_t a = ring(c.buffer);
        EXPECT_EQ(a.status, RAW_MSGPACK_ACCEPTED) << c.name;
        EXPECT_EQ(a.records, c.records) << c.name;
    }
}

std::string deep_arrays(int depth) {
    Pack p;
    p.array(2).uint(1).map(1).str("k");
    for (int i = 0; i < depth; ++i)
        p.array(1);
    p.nil();
    return p.bytes();
}

TEST_F(Doorbell, InvalidBuffersAreRejectedWithTheirOffset) {
    start();
    const std::string good = Pack().array(2).uint(1).record("ok").bytes();
    const struct {
        const char *name;
        std::string buffer;
        size_t offset; // where the error line must point
    } cases[] = {
        {"truncated map", hex("81 a1 6b"), 3},
        {"truncated string", hex("81 a1 6b a5 61 62"), 3},
        {"truncated array header", hex("dc 00"), 0},
        {"reserved byte 0xc1", hex("81 a1 6b c1"), 3},
        {"0xc1 alone", hex("c1"), 0},
        {"record not a map", Pack().array(2).uint(1).uint(5).bytes(), 0},
        {"event a plain integer", Pack().uint(5).bytes(), 0},
        {"event a string", Pack().str("text").bytes(), 0},
        {"array of three", Pack().array(3).uint(1).record("x").nil().bytes(), 0},
        {"array of one", Pack().array(1).record("x").bytes(), 0},
        {"header array of one", Pack().array(2).array(1).uint(1).record("x").bytes(), 0},
        {"metadata not a map", Pack().array(2).array(2).uint(1).uint(2).record("x").bytes(), 0},
        {"time a string", Pack().array(2).str("now").record("x").bytes(), 0},
        {"negative time", Pack().array(2).sint(-5).record("x").bytes(), 0},
        {"time beyond 32 bits", Pack().array(2).uint(1ull << 33).record("x").bytes(), 0},
        {"ext of another type", Pack().array(2).event_time(1, 2, 5).record("x").bytes(), 0},
        {"nanoseconds too large", Pack().array(2).event_time(1, 1000000000).record("x").bytes(), 0},
        {"trailing garbage", good + hex("c1"), good.size()},
        {"trailing truncated event", good + hex("92 01"), good.size()},
        {"array32 claiming 4G elements", hex("dd ff ff ff ff"), 0},
        {"map32 claiming 4G pairs", hex("df ff ff ff ff"), 0},
        {"str32 claiming 4 GB", hex("db ff ff ff ff 61"), 0},
        {"bin32 claiming 4 GB", hex("c6 ff ff ff ff"), 0},
        {"map16 with more pairs than bytes", hex("de 00 10 01 02"), 0},
        {"nesting too deep", deep_arrays(40), 0},
    };
    for (const auto &c : cases) {
        FdCapture err(2);
        raw_msgpack_answer_t a = ring(c.buffer);
        std::string log = err.stop();
        EXPECT_EQ(a.status, RAW_MSGPACK_REJECTED) << c.name;
        EXPECT_EQ(a.records, 0u) << c.name;
        std::string at = "rejected at byte " + std::to_string(c.offset) + ":";
        if (std::string(c.name) != "nesting too deep") {
            EXPECT_NE(log.find(at), std::string::npos) << c.name << ": " << log;
        }
        EXPECT_EQ(log.rfind("[engine] [error] input raw_msgpack.0: buffer of ", 0), 0u)
            << c.name << ": " << log;
    }
    // The engine still serves good buffers afterwards.
    EXPECT_EQ(ring(good).status, RAW_MSGPACK_ACCEPTED);
}

TEST_F(Doorbell, SizesOutsideTheLimitAndMalformedRequestsAreRefused) {
    ASSERT_EQ(flb_input_set(engine_.ctx(), engine_.input(), "Buffer_Max_Size", "1k", NULL), 0);
    start();
    std::string big = Pack().record(std::string(2000, 'x')).bytes();
    std::string ok = Pack().record(std::string(900, 'x')).bytes();
    char byte = 0;
    for (int32_t size : {0, -1, INT32_MIN, 1025, static_cast<int32_t>(big.size())}) {
        ASSERT_TRUE(client_.send_request(engine_.path(), size,
                                         size == 1025 || size > 1025 ? big.data() : &byte));
        auto a = client_.answer();
        ASSERT_TRUE(a);
        EXPECT_EQ(a->status, RAW_MSGPACK_REFUSED) << size;
    }
    for (size_t n : {size_t{8}, size_t{15}, size_t{17}, size_t{64}}) {
        std::string bytes(n, '\0');
        ASSERT_TRUE(client_.send_raw(engine_.path(), bytes.data(), n));
        auto a = client_.answer();
        ASSERT_TRUE(a);
        EXPECT_EQ(a->status, RAW_MSGPACK_REFUSED) << n << " bytes";
    }
    EXPECT_EQ(ring(ok).status, RAW_MSGPACK_ACCEPTED);
}

// Records reach "stdout" as JSON lines with the input's tag and the event's time; a
// rejected buffer contributes nothing, even its valid first part; the caller's buffer
// may change as soon as the answer is in.
TEST_F(Doorbell, RecordsReachStdoutWithTagAndTimeAndRejectionIsWhole) {
    FdCapture out(1);
    start("stdout");
    std::string first = Pack()
                            .array(2)
                            .uint(1700000000)
                            .record("plain seconds")
                            .array(2)
                            .array(2)
                            .event_time(1700000001, 123456789)
                            .map(0)
                            .record("event time")
                            .array(2)
                            .f64(1700000002.5)
                            .record("float")
                            .bytes();
    EXPECT_EQ(ring(first).records, 3u);
    first.assign(first.size(), '\xc1'); // reused by the caller after the answer
    std::string half_bad =
        Pack().array(2).uint(5).record("must not appear").bytes() + hex("92 01 c1");
    EXPECT_EQ(ring(half_bad).status, RAW_MSGPACK_REJECTED);
    timespec before, after;
    clock_gettime(CLOCK_REALTIME, &before);
    EXPECT_EQ(ring(Pack().record("stamped").bytes()).records, 1u);
    clock_gettime(CLOCK_REALTIME, &after);
    ASSERT_EQ(engine_.stop(), 0);
    std::string text = out.stop();

    EXPECT_NE(text.find("{\"tag\":\"raw_msgpack.0\",\"time\":1700000000.000000000,\"record\":{"
                        "\"msg\":\"plain seconds\"}}\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("{\"tag\":\"raw_msgpack.0\",\"time\":1700000001.123456789,\"record\":{"
                        "\"msg\":\"event time\"}}\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("{\"tag\":\"raw_msgpack.0\",\"time\":1700000002.500000000,\"record\":{"
                        "\"msg\":\"float\"}}\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("must not appear"), std::string::npos) << text;
    size_t at = text.find("\"record\":{\"msg\":\"stamped\"}");
    ASSERT_NE(at, std::string::npos) << text;
    size_t t = text.rfind("\"time\":", at) + 7;
    double stamped = std::stod(text.substr(t));
    EXPECT_GE(stamped, static_cast<double>(before.tv_sec));
    EXPECT_LE(stamped, static_cast<double>(after.tv_sec) + 1);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 4) << text;
}

// Values that JSON has no form for are written safely: binaries and extensions as
// base64, bytes that are not UTF-8 as U+FFFD, control characters escaped, non-string
// keys as their JSON text, non-finite floats as null.
TEST_F(Doorbell, StdoutRendersEveryValueAsValidJson) {
    FdCapture out(1);
    start("stdout");
    std::string record = Pack()
                             .array(2)
                             .uint(7)
                             .map(8)
                             .str("bin")
                             .raw(hex("c4 03 00 ff 10"))
                             .str("ext")
                             .raw(hex("d5 05 01 02"))
                             .str("utf8")
                             .raw(hex("a6 c3 a9 ff 22 0a 01"))
                             .uint(5)
                             .str("int key")
                             .str("nan")
                             .f64(std::numeric_limits<double>::quiet_NaN())
                             .str("list")
                             .array(3)
                             .nil()
                             .raw(hex("c3"))
                             .sint(-3)
                             .str("float")
                             .f64(0.1)
                             .str("big")
                             .uint(UINT64_MAX)
                             .bytes();
    EXPECT_EQ(ring(record).records, 1u);
    ASSERT_EQ(engine_.stop(), 0);
    EXPECT_EQ(out.stop(), "{\"tag\":\"raw_msgpack.0\",\"time\":7.000000000,\"record\":{\"bin\":"
                          "\"AP8Q\",\"ext\":{\"ext\":5,"
                          "\"data\":\"AQI=\"},\"utf8\":\"\u00e9\\ufffd\\\"\\n\\u0001\",\"5\":\"int "
                          "key\",\"nan\":null,"
                          "\"list\":[null,true,-3],\"float\":0.1,\"big\":18446744073709551615}}\n");
}

TEST_F(Doorbell, OutputsReceiveTheTagsTheirMatchFits) {
    ASSERT_EQ(flb_input_set(engine_.ctx(), engine_.input(), "Tag", "app.log", NULL), 0);
    FdCapture out(1);
    int matching = engine_.add_output("stdout");
    int other = engine_.add_output("stdout");
    int everything = engine_.add_output("stdout"); // no Match: every tag
    ASSERT_EQ(flb_output_set(engine_.ctx(), matching, "Match", "app.*", NULL), 0);
    ASSERT_EQ(flb_output_set(engine_.ctx(), other, "Match", "sys.*", NULL), 0);
    ASSERT_GE(everything, 0);
    ASSERT_TRUE(engine_.start());
    EXPECT_EQ(ring(Pack().record("routed").bytes()).records, 1u);
    ASSERT_EQ(engine_.stop(), 0);
    std::string text = out.stop();
    const std::string line = "{\"tag\":\"app.log\",";
    size_t n = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++n;
    EXPECT_EQ(n, 2u) << text;
}

TEST_F(Doorbell, SocketFileIsPrivateAndRemovedAtStop) {
    // A socket file left by an earlier run at the path does not stop the start.
    {
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un a = DoorbellClient::address(engine_.path());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
        close(fd);
    }
    start();
    struct stat st;
    ASSERT_EQ(lstat(engine_.path().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(engine_.stop(), 0);
    EXPECT_NE(lstat(engine_.path().c_str(), &st), 0);
}

// A request from another process is dropped unread and unanswered: the address it
// names is not even mapped, so reading it would crash the engine.
TEST_F(Doorbell, RequestFromAnotherProcessIsIgnored) {
    int go[2], done[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(done), 0);
    std::string server = engine_.path();
    std::string child_path = unique_path("forger");
    pid_t pid = fork(); // before the engine has any thread
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un me = DoorbellClient::address(child_path);
        sockaddr_un to = DoorbellClient::address(server);
        if (bind(fd, reinterpret_cast<sockaddr *>(&me), sizeof me) != 0)
            _exit(10);
        char c;
        if (read(go[0], &c, 1) != 1)
            _exit(11);
        doorbell_msg_t forged{};
        forged.size = 64;
        forged.data = reinterpret_cast<void *>(0x10);
        if (sendto(fd, &forged, sizeof forged, 0, reinterpret_cast<sockaddr *>(&to), sizeof to) !=
            16)
            _exit(12);
        if (write(done[1], "s", 1) != 1 || read(go[0], &c, 1) != 1)
            _exit(13);
        char answer[16];
        ssize_t n = recv(fd, answer, sizeof answer, MSG_DONTWAIT);
        unlink(child_path.c_str());
        _exit(n < 0 && errno == EAGAIN ? 0 : 14);
    }
    FdCapture err(2);
    start();
    ASSERT_EQ(write(go[1], "g", 1), 1);
    char c;
    ASSERT_EQ(read(done[0], &c, 1), 1); // the forged request is queued at the input
    // Requests are served in arrival order: once ours is answered, the forged one has
    // been handled.
    EXPECT_EQ(ring(Pack().record("mine").bytes()).status, RAW_MSGPACK_ACCEPTED);
    ASSERT_EQ(write(go[1], "c", 1), 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the forger got an answer or failed";
    std::string log = err.stop();
    EXPECT_NE(log.find("not from this process dropped unread (last from pid " +
                       std::to_string(pid) + ")"),
              std::string::npos)
        << log;
    for (int fd : {go[0], go[1], done[0], done[1]})
        close(fd);
}

// Engines share nothing: two of them serve their own callers from two threads at once.
TEST(DoorbellEngines, TwoEnginesServeTheirCallersAtOnce) {
    TestEngine a, b;
    ASSERT_GE(a.add_output("null"), 0);
    ASSERT_GE(b.add_output("null"), 0);
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    auto feed = [](TestEngine *e, uint32_t *taken) {
        DoorbellClient client;
        std::string buffer = Pack().record("x").record("y").bytes();
        for (int i = 0; i < 200; ++i)
            if (auto answer = client.ring(e->path(), buffer))
                *taken += answer->records;
    };
    uint32_t taken_a = 0, taken_b = 0;
    std::thread ta(feed, &a, &taken_a), tb(feed, &b, &taken_b);
    ta.join();
    tb.join();
    EXPECT_EQ(taken_a, 400u);
    EXPECT_EQ(taken_b, 400u);
}

} // namespace
