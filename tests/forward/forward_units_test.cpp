// Pieces of the forward output that need no receiver: the bounded reply scan, the
// message encoding (golden bytes), the property rules and the digests.
#include <gtest/gtest.h>

#include <string>

#include "engine/plugins/out_forward/forward_config.h"
#include "engine/plugins/out_forward/forward_crypto.h"
#include "engine/plugins/out_forward/forward_encode.h"
#include "engine/plugins/out_forward/reply_scan.h"
#include "tests/forward/forward_fixture.h"

namespace {

using fwd::ScanStatus;

std::string hex_of(const std::string &s) {
    return fwd::hex(reinterpret_cast<const uint8_t *>(s.data()), s.size());
}

std::string unhex(const std::string &h) {
    std::string out;
    for (size_t i = 0; i + 1 < h.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return out;
}

struct ScanCase {
    const char *name;
    const char *hex;
    size_t limit;  // 0: the bytes given
    ScanStatus status;
    size_t length_or_offset;
    const char *reason;
};

TEST(ReplyScan, MeasuresOrRejectsWithoutReadingPastTheBytes) {
    const ScanCase cases[] = {
        {"fixint", "05", 0, ScanStatus::Complete, 1, nullptr},
        {"ack map", "81a361636ba3616263", 0, ScanStatus::Complete, 9, nullptr},
        {"trailing bytes stay", "c0c0", 0, ScanStatus::Complete, 1, nullptr},
        {"eventtime", "d70000000001000000020a", 0, ScanStatus::Complete, 10, nullptr},
        {"str8 partial, more may come", "d90a6162", 100, ScanStatus::Incomplete, 0, nullptr},
        {"header cut, more may come", "cd00", 100, ScanStatus::Incomplete, 0, nullptr},
        {"array needs its elements", "93c0c0", 100, ScanStatus::Incomplete, 0, nullptr},
        {"0xc1", "91c1", 0, ScanStatus::Invalid, 1, "never-used byte 0xc1"},
        {"str32 of 4 GiB", "dbffffffff", 65536, ScanStatus::Invalid, 0, "declared length beyond the bytes allowed"},
        {"bin32 just over the limit", "c600000010", 20, ScanStatus::Invalid, 0, "declared length beyond the bytes allowed"},
        {"array32 count", "ddffffffff", 65536, ScanStatus::Invalid, 0, "declared element count beyond the bytes allowed"},
        {"map32 counts keys and values", "df00000008", 20, ScanStatus::Invalid, 0, "declared element count beyond the bytes allowed"},
        {"ext32 of 4 GiB", "c9ffffffff00", 65536, ScanStatus::Invalid, 0, "declared length beyond the bytes allowed"},
        {"truncated at the limit", "d90a6162", 0, ScanStatus::Invalid, 0, "declared length beyond the bytes allowed"},
    };
    for (const ScanCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes = unhex(c.hex);
        auto r = fwd::scan_stream_object(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size(),
                                         c.limit ? c.limit : bytes.size(), fwd::kMaxReplyDepth);
        EXPECT_EQ(r.status, c.status);
        if (c.status == ScanStatus::Complete) {
            EXPECT_EQ(r.length, c.length_or_offset);
        }
        if (c.status == ScanStatus::Invalid) {
            EXPECT_EQ(r.error_at, c.length_or_offset);
            EXPECT_STREQ(r.reason, c.reason);
        }
    }
}

TEST(ReplyScan, NestingIsLimited) {
    std::string ok(fwd::kMaxReplyDepth, '\x91');
    ok.push_back('\xc0');
    auto r = fwd::scan_stream_object(reinterpret_cast<const uint8_t *>(ok.data()), ok.size(), ok.size(),
                                     fwd::kMaxReplyDepth);
    EXPECT_EQ(r.status, ScanStatus::Complete);
    std::string deep(fwd::kMaxReplyDepth + 1, '\x91');
    deep.push_back('\xc0');
    r = fwd::scan_stream_object(reinterpret_cast<const uint8_t *>(deep.data()), deep.size(), deep.size(),
                                fwd::kMaxReplyDepth);
    EXPECT_EQ(r.status, ScanStatus::Invalid);
    EXPECT_STREQ(r.reason, "nesting too deep");
}

// One record {"a": 1} at 0x65000000.000000007 under tag "t".
fwdtest::ChunkData one_record() { return fwdtest::make_chunk("t", {{{"a", 1}}}, 0x65000000, 7); }

std::string encode(const fwdtest::ChunkData &chunk, fwd::ForwardConfig config, const std::string &id = "") {
    fwd::MessageEncoder enc;
    std::string error;
    EXPECT_TRUE(enc.encode(chunk.view(), config, id, &error)) << error;
    fwd::Slice s[3];
    size_t n = enc.slices(s);
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out.append(static_cast<const char *>(s[i].data), s[i].size);
    return out;
}

TEST(ForwardEncode, PackedForwardGoldenBytes) {
    fwd::ForwardConfig c;
    const std::string entry_et = "92" "d700" "65000000" "00000007" "81a16101";
    // [tag, bin(entries)]
    EXPECT_EQ(hex_of(encode(one_record(), c)), "92a174c40f" + entry_et);
    c.send_options = true;
    EXPECT_EQ(hex_of(encode(one_record(), c)), "93a174c40f" + entry_et + "81a473697a6501");
    c.send_options = false;
    c.time_as_integer = true;
    EXPECT_EQ(hex_of(encode(one_record(), c)), "92a174c40a" "92ce65000000" "81a16101");
    // An ack asks for the option map with the chunk id.
    EXPECT_EQ(hex_of(encode(one_record(), c, "abcd")),
              "93a174c40a" "92ce65000000" "81a16101" "82a473697a6501a56368756e6ba461626364");
    c.tag = "over";
    EXPECT_EQ(hex_of(encode(one_record(), c)).substr(0, 12), "92a46f766572");
}

TEST(ForwardEncode, GzipEntriesCarryTheCompressedOption) {
    fwd::ForwardConfig c;
    c.compress_gzip = true;
    std::string msg = encode(fwdtest::numbered_chunk("z", 0, 100), c);
    EXPECT_EQ(hex_of(msg.substr(0, 3)), "93a17a");
    EXPECT_NE(msg.find("\xaa" "compressed" "\xa4" "gzip"), std::string::npos);
    EXPECT_NE(msg.find("\x1f\x8b"), std::string::npos);  // gzip magic at the start of the bin
}

TEST(ForwardEncode, OlderEventLayoutAndOtherTimeForms) {
    fwd::ForwardConfig c;
    c.time_as_integer = true;
    // [time, record] with an integer time, then with a float time (fraction dropped).
    fwdtest::ChunkData chunk{"t", unhex("92ce6500000081a16101" "92cb41d940000010000081a16102"), 2};
    std::string out = encode(chunk, c);
    EXPECT_EQ(hex_of(out), "92a174c414" "92ce6500000081a16101" "92ce6500000081a16102");
}

TEST(ForwardEncode, MalformedChunksAreRefusedWithTheOffset) {
    const struct {
        const char *name;
        const char *hex;
        const char *error;
    } cases[] = {
        {"truncated", "92ce65", "event at byte 0 of the chunk: not a complete MessagePack object"},
        {"not an array of two", "93c0c0c0", "not an array of two elements"},
        {"time is a string", "92a17881a16101", "no valid time"},
        {"record is an array", "92ce650000009101", "the record is not a map"},
        {"second event bad", "92ce6500000081a16101c1", "event at byte 10 of the chunk"},
    };
    for (auto &k : cases) {
        SCOPED_TRACE(k.name);
        fwdtest::ChunkData chunk{"t", unhex(k.hex), 1};
        fwd::MessageEncoder enc;
        std::string error;
        EXPECT_FALSE(enc.encode(chunk.view(), fwd::ForwardConfig{}, "", &error));
        EXPECT_NE(error.find(k.error), std::string::npos) << error;
    }
    // Through the plugin: such a chunk is dropped (Error), not retried.
    fwdtest::Output out({});
    ASSERT_EQ(out.init(), 0);
    fwdtest::StderrCapture err;
    EXPECT_EQ(out.flush(fwdtest::ChunkData{"t", unhex("92c1"), 1}), engine::FlushResult::Error);
    EXPECT_NE(err.text().find("cannot be sent"), std::string::npos);
}

TEST(ForwardConfig, PropertyRules) {
    const struct {
        const char *key, *value;
        bool ok;
    } cases[] = {
        {"Port", "", true},        {"Port", "24224", true},   {"port", "1", true},
        {"Port", "65535", true},   {"Port", "0", false},      {"Port", "65536", false},
        {"Port", "abc", false},    {"Port", "-1", false},     {"Port", "+80", false},
        {"Port", "80 ", false},    {"Compress", "gzip", true}, {"Compress", "GZIP", true},
        {"Compress", "zstd", false}, {"Ack_Timeout", "5", true}, {"Ack_Timeout", "0", false},
        {"Connect_Timeout", "-3", false}, {"Host", "anything", true},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        EXPECT_EQ(fwd::check_forward_property(c.key, c.value) == nullptr, c.ok);
    }
    EXPECT_EQ(out_forward_plugin.check_property, &fwd::check_forward_property);
}

TEST(ForwardConfig, DefaultsAndEmptyValues) {
    engine::Instance ins;
    ins.plugin = &out_forward_plugin;
    ins.set("Host", "");
    ins.set("Port", "");
    fwd::ForwardConfig c;
    std::string error;
    ASSERT_TRUE(fwd::load_forward_config(ins, &c, &error)) << error;
    EXPECT_EQ(c.host, "127.0.0.1");
    EXPECT_EQ(c.port, "24224");
    EXPECT_EQ(c.ack_timeout_s, 30);
    EXPECT_EQ(c.connect_timeout_s, 10);
    EXPECT_TRUE(c.tls_verify);
    EXPECT_FALSE(c.tls || c.require_ack || c.compress_gzip || c.time_as_integer || c.send_options);
    EXPECT_FALSE(c.self_hostname.empty());

    ins.set("Port", "99999");
    EXPECT_FALSE(fwd::load_forward_config(ins, &c, &error));
    EXPECT_NE(error.find("invalid Port '99999'"), std::string::npos);
}

TEST(ForwardCrypto, DigestAndIds) {
    EXPECT_EQ(fwd::sha512_hex({"a", "bc"}),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(fwd::base64(reinterpret_cast<const uint8_t *>("hello"), 5), "aGVsbG8=");
}

}  // namespace
