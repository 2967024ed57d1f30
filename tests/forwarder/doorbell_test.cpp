// The doorbell exchange against a test server socket that plays the input's part:
// what the 16-byte request carries, which answers count, and how add_data maps the
// exchange and the answer's status to its result.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "postvane.h"
#include "unique_path.h"
#include "fixture/watchdog.h"

namespace {

using forwarder_test::unique_path;
using testhost::Watchdog;

int bound_socket(const std::string &path) {
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strcpy(address.sun_path, path.c_str());
    unlink(path.c_str());
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Request {
    ssize_t length = 0;
    int32_t size = 0;
    void *data = nullptr;
    std::string bytes; // what was at the address when the request came
};

// Plays the input: takes one request at a time and answers with `answer`.
class TestServer {
  public:
    TestServer() : path_(unique_path("server")), fd_(bound_socket(path_)) {}
    ~TestServer() {
        close(fd_);
        unlink(path_.c_str());
    }
    const std::string &path() const { return path_; }

    // Serves one request on a thread of its own; `before_answer` runs between the two.
    void serve_one(std::vector<uint8_t> answer, std::function<void()> before_answer = nullptr) {
        thread_ = std::thread([this, answer, before_answer] {
            unsigned char buffer[64];
            sockaddr_un from{};
            socklen_t from_length = sizeof from;
            ssize_t n = recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from),
                                 &from_length);
            request_.length = n;
            if (n >= 16) {
                memcpy(&request_.size, buffer, 4);
                memcpy(&request_.data, buffer + 8, 8);
                if (request_.size > 0 && request_.data != nullptr)
                    request_.bytes.assign(static_cast<const char *>(request_.data),
                                          static_cast<size_t>(request_.size));
            }
            if (before_answer)
                before_answer();
            sendto(fd_, answer.data(), answer.size(), 0, reinterpret_cast<sockaddr *>(&from),
                   from_length);
        });
    }
    Request join() {
        thread_.join();
        return request_;
    }
    // True when a request is waiting that nobody served.
    bool has_pending_request() {
        unsigned char buffer[64];
        return recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT) >= 0;
    }

  private:
    std::string path_;
    int fd_;
    std::thread thread_;
    Request request_;
};

// A context record as the exchange sees it: the server path and a bound client socket.
struct Client {
    explicit Client(const std::string &server_path) : path(unique_path("client")) {
        context = std::make_unique<raw_context_t>();
        memset(context.get(), 0, sizeof(raw_context_t));
        strcpy(context->server_path, server_path.c_str());
        strcpy(context->client_path, path.c_str());
        context->client_socket = bound_socket(path);
    }
    ~Client() {
        close(context->client_socket);
        unlink(path.c_str());
    }
    std::string path;
    std::unique_ptr<raw_context_t> context;
};

std::vector<uint8_t> answer_of(int32_t status, uint32_t records, size_t length = 16) {
    std::vector<uint8_t> answer(length, 0);
    raw_msgpack_answer_t a{};
    a.status = status;
    a.records = records;
    if (length > 0)
        memcpy(answer.data(), &a, std::min(length, sizeof a));
    return answer;
}

TEST(Doorbell, RequestCarriesSizeAndAddressAndTheBufferIsReadableInPlace) {
    Watchdog watchdog("doorbell request");
    TestServer server;
    Client client(server.path());
    char payload[] = "\x81\xa1k\xa1v";
    server.serve_one(answer_of(0, 1));
    EXPECT_EQ(ring_doorbell(client.context.get(), client.context->client_socket, 5, payload), 1);
    Request request = server.join();
    EXPECT_EQ(request.length, 16);
    EXPECT_EQ(request.size, 5);
    EXPECT_EQ(request.data, static_cast<void *>(payload));
    EXPECT_EQ(request.bytes, std::string(payload, 5));
}

TEST(Doorbell, OnlyTheAnswerLengthDecidesTheResult) {
    struct Case {
        size_t length;
        int expected;
    } cases[] = {{0, 0}, {8, 0}, {15, 0}, {16, 1}, {64, 1}};
    for (const auto &c : cases) {
        Watchdog watchdog("doorbell answer length");
        TestServer server;
        Client client(server.path());
        char payload[4] = {};
        // Content that a status reader would call a failure: ring_doorbell does not look.
        server.serve_one(answer_of(-2, 0, c.length));
        EXPECT_EQ(ring_doorbell(client.context.get(), client.context->client_socket, 4, payload),
                  c.expected)
            << c.length << " byte answer";
        server.join();
    }
}

TEST(Doorbell, AddDataMapsTheExchangeAndTheStatus) {
    struct Case {
        const char *name;
        std::vector<uint8_t> answer;
        int expected;
    } cases[] = {
        {"accepted", answer_of(RAW_MSGPACK_ACCEPTED, 3), 0},
        {"sixteen zero bytes", std::vector<uint8_t>(16, 0), 0},
        {"longer answer, accepted", answer_of(RAW_MSGPACK_ACCEPTED, 1, 64), 0},
        {"refused", answer_of(RAW_MSGPACK_REFUSED, 0), -1},
        {"rejected", answer_of(RAW_MSGPACK_REJECTED, 0), -1},
        {"short answer", answer_of(RAW_MSGPACK_ACCEPTED, 1, 8), -1},
        {"empty answer", {}, -1},
    };
    for (const auto &c : cases) {
        Watchdog watchdog(c.name);
        TestServer server;
        Client client(server.path());
        char payload[8] = {1, 2, 3};
        server.serve_one(c.answer);
        EXPECT_EQ(add_data(client.context.get(), payload, sizeof payload), c.expected) << c.name;
        EXPECT_EQ(server.join().size, 8) << c.name;
    }
}

TEST(Doorbell, AddDataFiltersOnlyWhatCannotBeSent) {
    Watchdog watchdog("add_data filters");
    TestServer server;
    Client client(server.path());
    char payload[4] = {};
    EXPECT_EQ(add_data(nullptr, payload, 4), -1);
    EXPECT_EQ(add_data(client.context.get(), payload, 0), 0);
    EXPECT_EQ(add_data(client.context.get(), nullptr, 0), 0);
    EXPECT_EQ(add_data(client.context.get(), nullptr, 4), -1); // the input would read address 0
    EXPECT_FALSE(server.has_pending_request());

    // A negative size goes to the input unchanged; the input refuses it.
    server.serve_one(answer_of(RAW_MSGPACK_REFUSED, 0));
    EXPECT_EQ(add_data(client.context.get(), payload, -5), -1);
    EXPECT_EQ(server.join().size, -5);
}

TEST(Doorbell, NothingBoundAtTheServerPathReturnsAtOnce) {
    Watchdog watchdog("send to nothing bound");
    // No file at all, and a socket file whose socket is closed.
    std::string stale = unique_path("stale");
    close(bound_socket(stale));
    for (const std::string &path : {unique_path("absent"), stale}) {
        Client client(path);
        char payload[4] = {};
        EXPECT_EQ(ring_doorbell(client.context.get(), client.context->client_socket, 4, payload), 0)
            << path;
        EXPECT_EQ(add_data(client.context.get(), payload, 4), -1) << path;
    }
    unlink(stale.c_str());
}

TEST(Doorbell, AServerPathTooLongForAnAddressIsNotCutShort) {
    Watchdog watchdog("long server path");
    // A socket bound at the first 107 characters must not receive the request.
    std::string path = unique_path("long");
    path.append(107 - path.size(), 'x');
    int fd = bound_socket(path);
    ASSERT_GE(fd, 0);
    Client client(path + "tail");
    char payload[4] = {};
    EXPECT_EQ(ring_doorbell(client.context.get(), client.context->client_socket, 4, payload), 0);
    unsigned char buffer[16];
    EXPECT_LT(recv(fd, buffer, sizeof buffer, MSG_DONTWAIT), 0);
    close(fd);
    unlink(path.c_str());
}

void on_signal(int) {}

TEST(Doorbell, AnInterruptedWaitKeepsWaitingForItsOwnAnswer) {
    Watchdog watchdog("interrupted receive");
    struct sigaction action{};
    action.sa_handler = on_signal; // no SA_RESTART: a blocked receive fails with EINTR
    struct sigaction previous{};
    sigaction(SIGUSR1, &action, &previous);

    TestServer server;
    Client client(server.path());
    char payload[4] = {};
    pthread_t caller = pthread_self();
    // Interrupt the caller while it waits; the answer comes only afterwards.
    server.serve_one(answer_of(RAW_MSGPACK_ACCEPTED, 1), [caller] {
        for (int i = 0; i < 3; ++i) {
            usleep(20000);
            pthread_kill(caller, SIGUSR1);
        }
    });
    EXPECT_EQ(add_data(client.context.get(), payload, 4), 0);
    server.join();
    sigaction(SIGUSR1, &previous, nullptr);
}

} // namespace
