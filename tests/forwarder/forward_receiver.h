// Runs forward_receiver.js (FluentServer, a real forward-protocol receiver) as a child
// process and collects the entries it prints.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

extern char **environ;

namespace forwarder_test {

class ForwardReceiver {
  public:
    // Starts the receiver on `port` (0: a free one) and waits until it listens.
    // The script's path comes from the build (POSTVANE_RECEIVER_SCRIPT).
    explicit ForwardReceiver(int port = 0) {
        int to_child[2], from_child[2];
        if (pipe(to_child) != 0 || pipe(from_child) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
        posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
        posix_spawn_file_actions_addclose(&actions, to_child[1]);
        posix_spawn_file_actions_addclose(&actions, from_child[0]);
        std::string port_text = std::to_string(port);
        const char *argv[] = {"node", POSTVANE_RECEIVER_SCRIPT, port_text.c_str(), nullptr};
        int rc = posix_spawnp(&pid_, "node", &actions, nullptr, const_cast<char **>(argv), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(to_child[0]);
        close(from_child[1]);
        input_ = to_child[1];
        output_ = fdopen(from_child[0], "r");
        if (rc != 0) {
            pid_ = -1;
            return;
        }
        std::string line;
        while (read_line(&line)) {
            if (line.rfind("LISTENING ", 0) == 0) {
                port_ = std::stoi(line.substr(10));
                break;
            }
        }
    }
    ~ForwardReceiver() {
        if (pid_ > 0) {
            stop();
        }
        if (output_ != nullptr)
            fclose(output_);
    }
    ForwardReceiver(const ForwardReceiver &) = delete;
    ForwardReceiver &operator=(const ForwardReceiver &) = delete;

    bool listening() const { return port_ > 0; }
    int port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    // Reads entries until `count` have arrived in all (blocks; a watchdog catches a hang).
    const std::vector<nlohmann::json> &wait_for(size_t count) {
        std::string line;
        while (entries_.size() < count && read_line(&line))
            entries_.push_back(nlohmann::json::parse(line));
        return entries_;
    }

    // Ends the receiver and returns every entry it printed, late duplicates included.
    const std::vector<nlohmann::json> &stop() {
        if (input_ >= 0) {
            close(input_);
            input_ = -1;
        }
        std::string line;
        while (read_line(&line))
            entries_.push_back(nlohmann::json::parse(line));
        if (pid_ > 0) {
            int status;
            waitpid(pid_, &status, 0);
            pid_ = -1;
        }
        return entries_;
    }

  private:
    bool read_line(std::string *line) {
        if (output_ == nullptr)
            return false;
        line->clear();
        int c;
        while ((c = fgetc(output_)) != EOF && c != '\n')
            line->push_back(static_cast<char>(c));
        return c != EOF || !line->empty();
    }

    pid_t pid_ = -1;
    int input_ = -1;
    FILE *output_ = nullptr;
    int port_ = 0;
    std::vector<nlohmann::json> entries_;
};

// A TCP port that nothing listens on right now (bound to port 0, then released).
inline int free_tcp_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

} // namespace forwarder_test
