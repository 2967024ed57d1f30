// The forward output over TLS to the FluentServer receiver, with certificates made by the
// openssl command line for each run.
#include "tests/forward/forward_fixture.h"

namespace fwdtest {
namespace {

using engine::FlushResult;
using Props = std::vector<std::pair<std::string, std::string>>;

class ForwardTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new TempDir;
        // A self-signed server certificate for localhost and 127.0.0.1, and a client one.
        std::string cmd =
            "cd '" + dir_->path() + "' && "
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout server.key -out server.crt "
            "-subj /CN=localhost -addext subjectAltName=DNS:localhost,IP:127.0.0.1 2>/dev/null && "
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -keyout client.key -out client.crt "
            "-subj /CN=forward-client 2>/dev/null";
        ASSERT_EQ(system(cmd.c_str()), 0) << "openssl could not make the test certificates";
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    static std::string f(const char *name) { return dir_->file(name); }

    int start(std::vector<std::string> extra = {}) {
        auto args = receiver_args(events_.file("events.jsonl"));
        args.push_back("tls_key=" + f("server.key"));
        args.push_back("tls_cert=" + f("server.crt"));
        args.insert(args.end(), extra.begin(), extra.end());
        int port = receiver_.start(args);
        EXPECT_GT(port, 0);
        return port;
    }
    size_t recorded() { return read_events(events_.file("events.jsonl")).size(); }

    static TempDir *dir_;
    TempDir events_;
    Receiver receiver_;
};

TempDir *ForwardTls::dir_ = nullptr;

struct TlsCase {
    const char *name;
    Props props;
    bool delivered;
    const char *error;  // part of the log line when not delivered
};

TEST_F(ForwardTls, VerificationDecidesWhetherTheConnectionIsUsed) {
    int port = start();
    const std::vector<TlsCase> cases = {
        {"verified_by_ca_file", {{"tls.ca_file", f("server.crt")}}, true, nullptr},
        {"verified_vhost", {{"tls.ca_file", f("server.crt")}, {"tls.vhost", "localhost"}}, true, nullptr},
        {"verify_off", {{"tls.verify", "off"}}, true, nullptr},
        {"untrusted_self_signed", {}, false, "certificate verify failed: self-signed certificate"},
        {"wrong_vhost",
         {{"tls.ca_file", f("server.crt")}, {"tls.vhost", "other.example"}},
         false,
         "certificate verify failed: hostname mismatch"},
    };
    size_t expected = 0;
    for (const TlsCase &c : cases) {
        SCOPED_TRACE(c.name);
        Props props = {{"Port", std::to_string(port)}, {"tls", "on"}, {"Connect_Timeout", "5"}};
        props.insert(props.end(), c.props.begin(), c.props.end());
        StderrCapture err;
        Output out(props);
        ASSERT_EQ(out.init(), 0);
        FlushResult r = out.flush(numbered_chunk(std::string("tls.") + c.name, 0, 2));
        if (c.delivered) {
            EXPECT_EQ(r, FlushResult::Ok);
            expected += 2;
            EXPECT_TRUE(wait_until([&] { return recorded() >= expected; }));
        } else {
            EXPECT_EQ(r, FlushResult::Retry);
            EXPECT_NE(err.text().find(c.error), std::string::npos) << err.text();
        }
    }
    EXPECT_EQ(recorded(), expected);
}

TEST_F(ForwardTls, ClientCertificateWhenTheReceiverAsksForOne) {
    int port = start({"tls_ca=" + f("client.crt")});
    Props common = {{"Port", std::to_string(port)}, {"tls", "on"}, {"tls.ca_file", f("server.crt")},
                    {"Connect_Timeout", "5"}, {"Require_ack_response", "on"}};
    {
        Output out(common);
        ASSERT_EQ(out.init(), 0);
        EXPECT_EQ(out.flush(numbered_chunk("anonymous", 0, 1)), FlushResult::Retry);
    }
    Props with_cert = common;
    with_cert.push_back({"tls.crt_file", f("client.crt")});
    with_cert.push_back({"tls.key_file", f("client.key")});
    Output out(with_cert);
    ASSERT_EQ(out.init(), 0);
    EXPECT_EQ(out.flush(numbered_chunk("certified", 0, 3)), FlushResult::Ok);
    EXPECT_TRUE(wait_until([&] { return recorded() >= 3; }));
}

TEST_F(ForwardTls, SharedKeyAcksAndGzipOverTls) {
    int port = start({"key=tls-key", "name=tls-receiver"});
    Output out({{"Port", std::to_string(port)}, {"tls", "on"}, {"tls.ca_file", f("server.crt")},
                {"Shared_Key", "tls-key"}, {"Require_ack_response", "on"}, {"Compress", "gzip"}});
    ASSERT_EQ(out.init(), 0);
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(out.flush(numbered_chunk("tls.all", i * 50, 50)), FlushResult::Ok);
    EXPECT_TRUE(wait_until([&] { return recorded() >= 250; }));
    std::vector<json> ev = read_events(events_.file("events.jsonl"));
    ASSERT_EQ(ev.size(), 250u);
    for (int i = 0; i < 250; ++i)
        EXPECT_EQ(ev[i]["record"]["seq"], i);
}

TEST_F(ForwardTls, MissingKeyFileFailsInit) {
    Output out({{"tls", "on"}, {"tls.crt_file", f("client.crt")}, {"tls.key_file", f("absent.key")}});
    StderrCapture err;
    EXPECT_EQ(out.init(), -1);
    EXPECT_NE(err.text().find("cannot use tls.key_file"), std::string::npos) << err.text();
}

}  // namespace
}  // namespace fwdtest
