// Naming of the doorbell socket files and the client socket, on the library's hidden
// functions: stand-ins for empty strings, the process id, refusal of names too long to
// be used whole, and the stale-file and bind-failure paths of the client socket.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "postvane_internal.h"
#include "stdout_capture.h"
#include "unique_path.h"

namespace {

using forwarder_test::StdoutCapture;

std::string pid() { return std::to_string(getpid()); }

std::string address_of(const void *p) {
    char text[32];
    snprintf(text, sizeof text, "%p", p);
    return text;
}

struct Context {
    Context() { context = postvane::raw_context_new(); }
    ~Context() { postvane::raw_context_free(context); }
    raw_context_t *context;
};

TEST(SocketPaths, GetSocketPathJoinsPrefixPidAndIdentity) {
    char out[256];
    get_socket_path("/tmp/prefix", "who_am_i", out);
    EXPECT_EQ(std::string(out), "/tmp/prefix_" + pid() + "_who_am_i");
}

TEST(SocketPaths, EmptyStringsGetStandInsInTheIdentity) {
    Context c;
    StdoutCapture capture;
    ASSERT_TRUE(postvane::build_socket_paths(c.context, "", "", "", ""));
    EXPECT_EQ(capture.finish(), "");
    const std::string identity = "-_defPlugin_defHost_defPort_" + address_of(c.context);
    EXPECT_EQ(std::string(c.context->server_path), "/tmp/fb_sock_server_" + pid() + "_" + identity);
    EXPECT_EQ(std::string(c.context->client_path), "/tmp/fb_sock_client_" + pid() + "_" + identity);
}

TEST(SocketPaths, GivenStringsAreUsedInOrder) {
    Context c;
    ASSERT_TRUE(postvane::build_socket_paths(c.context, "stdout", "10.0.0.1", "24224", "app"));
    EXPECT_EQ(std::string(c.context->client_path), "/tmp/fb_sock_client_" + pid() +
                                                       "_app_stdout_10.0.0.1_24224_" +
                                                       address_of(c.context));
}

TEST(SocketPaths, TheContextAddressKeepsPathsApart) {
    Context a, b;
    ASSERT_TRUE(postvane::build_socket_paths(a.context, "forward", "h", "1", "same"));
    ASSERT_TRUE(postvane::build_socket_paths(b.context, "forward", "h", "1", "same"));
    EXPECT_STRNE(a.context->client_path, b.context->client_path);
    EXPECT_STRNE(a.context->server_path, b.context->server_path);
}

TEST(SocketPaths, NamesTooLongToUseWholeAreRefused) {
    const std::string long_host(150, 'h');   // identity over 127 characters
    const std::string medium_host(60, 'h');  // identity fits, the path does not
    struct Case {
        const char *what;
        const std::string host;
        const char *message_start;
    } cases[] = {
        {"identity", long_host, "[Postvane] critical: socket identity of "},
        {"path", medium_host, "[Postvane] critical: doorbell socket path of "},
    };
    for (const auto &c : cases) {
        Context context;
        StdoutCapture capture;
        EXPECT_FALSE(postvane::build_socket_paths(context.context, "forward", c.host.c_str(),
                                                  "24224", "label"))
            << c.what;
        std::string out = capture.finish();
        EXPECT_EQ(out.rfind(c.message_start, 0), 0u) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
    // The longest accepted path fills the address exactly.
    Context context;
    std::string fixed = "/tmp/fb_sock_client_" + pid() + "_l_p_h_";
    const size_t room = 107 - fixed.size() - address_of(context.context).size() - 1;
    std::string port(room, '9');
    ASSERT_TRUE(postvane::build_socket_paths(context.context, "p", "h", port.c_str(), "l"));
    EXPECT_EQ(strlen(context.context->client_path), 107u);
    port += '9';
    StdoutCapture capture;
    EXPECT_FALSE(postvane::build_socket_paths(context.context, "p", "h", port.c_str(), "l"));
}

TEST(ClientSocket, AStaleFileAtThePathDoesNotStopTheBind) {
    Context c;
    std::string path = forwarder_test::unique_path("client");
    strcpy(c.context->client_path, path.c_str());
    std::ofstream(path) << "left over";
    c.context->client_socket = postvane::open_client_socket(c.context);
    ASSERT_GE(c.context->client_socket, 0);
    struct stat st{};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u); // only this user may send answers
    // Freeing the context closes the socket and removes its file.
    postvane::raw_context_free(c.context);
    c.context = postvane::raw_context_new();
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(ClientSocket, ABindFailureIsPrintedAndGivesMinusOne) {
    Context c;
    strcpy(c.context->client_path, "/tmp/pvtest_no_such_dir/client");
    StdoutCapture capture;
    EXPECT_EQ(postvane::open_client_socket(c.context), -1);
    EXPECT_EQ(capture.finish(), "[Postvane] Failed to bind client unix sock\n");
}

} // namespace
