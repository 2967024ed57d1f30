// The sender tool's core: options, the MessagePack object scanner, and whole runs
// through libpostvane to the "stdout" output with good and bad input.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "msgpack_events.h"
#include "msgpack_scan.h"
#include "sender.h"
#include "stdout_capture.h"
#include "fixture/watchdog.h"

using testhost::Watchdog;

namespace {

using namespace forwarder_test;
using postvane_send::msgpack_object_length;

TEST(PostvaneSendOptions, ParsesEveryOption) {
    const char *argv[] = {"postvane-send", "--host", "h", "--port", "1", "--plugin", "null",
                          "--tag", "t", "--param", "Retry_Limit=3", "--param", "k=a=b",
                          "--msgpack", "in.bin"};
    postvane_send::Options o;
    std::string error;
    ASSERT_TRUE(postvane_send::parse_options(std::size(argv), const_cast<char **>(argv), &o, &error))
        << error;
    EXPECT_EQ(o.host, "h");
    EXPECT_EQ(o.port, "1");
    EXPECT_EQ(o.plugin, "null");
    EXPECT_EQ(o.tag, "t");
    ASSERT_EQ(o.params.size(), 2u);
    EXPECT_EQ(o.params[1], std::make_pair(std::string("k"), std::string("a=b")));
    EXPECT_TRUE(o.msgpack);
    EXPECT_EQ(o.input, "in.bin");
}

TEST(PostvaneSendOptions, RefusesWhatItCannotUse) {
    const std::vector<std::vector<const char *>> bad = {
        {"x", "--host"}, {"x", "--param", "novalue"}, {"x", "--param", "=v"},
        {"x", "--bogus"}, {"x", "a", "b"}};
    for (const auto &args : bad) {
        postvane_send::Options o;
        std::string error;
        EXPECT_FALSE(postvane_send::parse_options(static_cast<int>(args.size()),
                                                  const_cast<char **>(args.data()), &o, &error))
            << args.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(PostvaneSendScan, FindsTheEndOfOneObjectOrRefuses) {
    struct Case {
        const char *name;
        Bytes bytes;
        size_t expected;
    } cases[] = {
        {"fixint", {0x05, 0x99}, 1},
        {"map of str", {0x81, 0xa1, 'k', 0xa1, 'v'}, 5},
        {"event time ext", {0xd7, 0x00, 1, 2, 3, 4, 5, 6, 7, 8}, 10},
        {"array16 of nils", {0xdc, 0x00, 0x02, 0xc0, 0xc0}, 5},
        {"never-used byte", {0xc1}, 0},
        {"truncated str", {0xa5, 'a', 'b'}, 0},
        {"huge map count", {0xdf, 0xff, 0xff, 0xff, 0xff, 0x00}, 0},
        {"huge str32", {0xdb, 0xff, 0xff, 0xff, 0xff, 'x'}, 0},
        {"empty", {}, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(msgpack_object_length(c.bytes.data(), c.bytes.size()), c.expected) << c.name;
    Bytes deep(1000, 0x91); // nesting far beyond any event
    deep.push_back(0xc0);
    EXPECT_EQ(msgpack_object_length(deep.data(), deep.size()), 0u);
}

struct SenderRun {
    SenderRun(postvane_send::Options options, const std::string &input) {
        FILE *in = fmemopen(const_cast<char *>(input.data()), input.size(), "r");
        char *report_text = nullptr;
        size_t report_size = 0;
        FILE *report_file = open_memstream(&report_text, &report_size);
        StdoutCapture capture;
        status = postvane_send::run(options, input.empty() ? stdin : in, report_file, &summary);
        out = capture.finish();
        fclose(report_file);
        report.assign(report_text, report_size);
        free(report_text);
        fclose(in);
    }
    std::vector<json> records() const {
        std::vector<json> r;
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line))
            if (!line.empty() && line[0] == '{')
                r.push_back(json::parse(line));
        return r;
    }
    int status;
    postvane_send::Summary summary;
    std::string out, report;
};

TEST(PostvaneSendRun, JsonLinesGoThroughAndBadLinesAreNamed) {
    Watchdog watchdog("postvane-send json");
    postvane_send::Options options;
    options.tag = "send.test";
    const std::string input = "{\"n\":1}\n"
                              "not json\n"
                              "\n"
                              "[1700000000,{\"n\":2}]\n"
                              "42\n"
                              "[1700000000,\"not a map\"]\n" // valid JSON, rejected by the engine
                              "{\"n\":3}";                   // no final newline
    SenderRun run(options, input);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.summary.events, 3u);
    EXPECT_EQ(run.summary.rejected, (std::vector<size_t>{2, 5, 6}));
    EXPECT_NE(run.report.find("3 events, "), std::string::npos) << run.report;
    EXPECT_NE(run.report.find("3 rejected (lines 2, 5, 6)"), std::string::npos) << run.report;
    std::vector<json> records = run.records();
    ASSERT_EQ(records.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(records[i]["tag"], "send.test");
        EXPECT_EQ(records[i]["record"]["n"], i + 1);
    }
}

TEST(PostvaneSendRun, ManyLinesAreBatchedAndAllArrive) {
    Watchdog watchdog("postvane-send batches");
    std::string input;
    for (int i = 0; i < 3000; ++i)
        input += "{\"seq\":" + std::to_string(i) + ",\"pad\":\"" + std::string(40, 'p') + "\"}\n";
    SenderRun run(postvane_send::Options{}, input);
    EXPECT_EQ(run.status, 0) << run.report;
    EXPECT_EQ(run.summary.events, 3000u);
    std::vector<json> records = run.records();
    ASSERT_EQ(records.size(), 3000u);
    for (int i = 0; i < 3000; ++i)
        EXPECT_EQ(records[i]["record"]["seq"], i);
}

TEST(PostvaneSendRun, RawMessagePackStopsAtABrokenObject) {
    Watchdog watchdog("postvane-send msgpack");
    Bytes bytes;
    append(bytes, event(Shape::TimeRecord, {{"n", 1}}));
    append(bytes, event(Shape::BareRecord, {{"n", 2}}));
    append(bytes, json("a string is no event")); // scans fine, the engine rejects it
    append(bytes, event(Shape::TimeMetaRecord, {{"n", 3}}, event_time(1700000000, 1)));
    bytes.insert(bytes.end(), {0x82, 0xa1, 'k'}); // truncated map
    postvane_send::Options options;
    options.msgpack = true;
    SenderRun run(options, std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.summary.events, 3u);
    EXPECT_EQ(run.summary.rejected, (std::vector<size_t>{3, 5}));
    EXPECT_NE(run.report.find("stopped reading: invalid or truncated MessagePack at byte "),
              std::string::npos)
        << run.report;
    EXPECT_EQ(run.records().size(), 3u);
}

TEST(PostvaneSendRun, AContextThatCannotBeMadeIsStatusTwo) {
    postvane_send::Options options;
    options.plugin = "stdout";
    options.host = std::string(200, 'h'); // socket paths too long
    SenderRun run(options, "{\"n\":1}\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.report.find("could not start forwarding"), std::string::npos);
}

} // namespace
