// Drives the plug-in as a host does: dlopen, the API table, options dictionaries, pages
// of opaque events; a real UDP socket stands in for the collector.
#pragma once

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "exporter/vem_exporter.h"
#include "fixture/test_host.h"
#include "support/vem_dict.h"

namespace nftest {

using testhost::Bytes;

// The plug-in, opened by path like a host does. The test also links it, so the handle is
// the copy the test's own calls reach.
class Plugin {
  public:
    Plugin() {
        handle_ = dlopen(SENTREL_LIBRARY_PATH, RTLD_NOW);
        if (!handle_)
            return;
        auto get = reinterpret_cast<const vem_exporter_api_t *(*)()>(
            dlsym(handle_, "vem_exporter_get_api"));
        api_ = get ? get() : nullptr;
    }
    ~Plugin() {
        if (handle_)
            dlclose(handle_);
    }
    Plugin(const Plugin &) = delete;
    Plugin &operator=(const Plugin &) = delete;
    const vem_exporter_api_t *api() const { return api_; }
    void *handle() const { return handle_; }

  private:
    void *handle_ = nullptr;
    const vem_exporter_api_t *api_ = nullptr;
};

// An options dictionary of the host.
class Options {
  public:
    Options(std::initializer_list<std::pair<const char *, std::string>> pairs = {})
        : dict_(vem_dict_create()) {
        for (auto &p : pairs)
            set(p.first, p.second);
    }
    ~Options() { vem_dict_delete(dict_); }
    Options(const Options &) = delete;
    Options &operator=(const Options &) = delete;
    Options &set(const char *key, const std::string &value) {
        vem_dict_add(dict_, key, value.c_str());
        return *this;
    }
    vem_dict_t dict() const { return dict_; }

  private:
    vem_dict_t dict_;
};

inline std::map<std::string, std::string> dict_contents(vem_dict_t d) {
    std::map<std::string, std::string> out;
    vem_dict_enum(
        d,
        [](const char *k, const char *v, void *user) {
            (*static_cast<std::map<std::string, std::string> *>(user))[k] = v ? v : "<null>";
            return true;
        },
        &out);
    return out;
}

// A UDP collector bound to a free port of the loopback address of its family.
class Collector {
  public:
    explicit Collector(int family = AF_INET, uint16_t port = 0) {
        fd_ = socket(family, SOCK_DGRAM, 0);
        int big = 4 << 20;
        setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
        sockaddr_storage ss{};
        socklen_t len;
        if (family == AF_INET6) {
            auto *a = reinterpret_cast<sockaddr_in6 *>(&ss);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            a->sin6_port = htons(port);
            len = sizeof *a;
        } else {
            auto *a = reinterpret_cast<sockaddr_in *>(&ss);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a->sin_port = htons(port);
            len = sizeof *a;
        }
        bound_ = bind(fd_, reinterpret_cast<sockaddr *>(&ss), len) == 0;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&ss), &len);
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port
                                         : reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
    }
    ~Collector() { close(fd_); }
    Collector(const Collector &) = delete;
    Collector &operator=(const Collector &) = delete;

    bool bound() const { return bound_; }
    uint16_t port() const { return port_; }
    std::string port_text() const { return std::to_string(port_); }

    // The next datagram; nullopt when none came within the watchdog time (a hang, not a
    // timing figure: datagrams on loopback arrive at once).
    std::optional<Bytes> receive(int watchdog_ms = 10000) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, watchdog_ms) != 1)
            return std::nullopt;
        Bytes b(65536);
        ssize_t n = recv(fd_, b.data(), b.size(), 0);
        if (n < 0)
            return std::nullopt;
        b.resize(static_cast<size_t>(n));
        return b;
    }
    // Whether a datagram is waiting, without waiting for one.
    bool pending() {
        pollfd p{fd_, POLLIN, 0};
        return poll(&p, 1, 0) == 1;
    }

  private:
    int fd_ = -1;
    bool bound_ = false;
    uint16_t port_ = 0;
};

// One exporter of the plug-in, destroyed with the fixture.
struct ExporterHandle {
    const vem_exporter_api_t *api = nullptr;
    void *exporter = nullptr;
    ~ExporterHandle() {
        if (exporter)
            api->destroy(exporter);
    }
};

// Builds data pages of NetFlow opaque events and feeds them to an exporter.
class EventFeeder {
  public:
    static constexpr uint16_t kTypeIndex = 1;

    explicit EventFeeder(const vem_exporter_api_t *api, void *exporter)
        : api_(api), exporter_(exporter) {}

    // One page with one events block of whole events; record_size fits the largest one.
    bool whole(const std::vector<std::pair<uint64_t, Bytes>> &events, const char *source = "src") {
        size_t record_size = VEM_OPAQUE_EVENT_HEADER_SIZE;
        for (auto &e : events)
            record_size = std::max(record_size, VEM_OPAQUE_EVENT_HEADER_SIZE + e.second.size());
        testhost::Page page(source, "tag");
        page.events(0, kTypeIndex, static_cast<uint8_t>(events.size()));
        for (auto &e : events) {
            testhost::OpaqueRecord r;
            r.app = testhost::netflow_app_id();
            r.value1 = e.first;
            r.data = e.second;
            page.record(r, record_size);
        }
        return feed(page, record_size);
    }
    bool whole(uint64_t value1, const Bytes &data) { return whole({{value1, data}}); }

    // An extended event: a start record in one page, then its payload in chunks of
    // chunk_size bytes, one chunk per page. False as soon as a page call returns false.
    bool extended(uint64_t value1, const Bytes &payload, size_t chunk_size, uint32_t id = 1) {
        size_t record_size = VEM_OPAQUE_EVENT_HEADER_SIZE + std::max<size_t>(chunk_size, 16);
        {
            testhost::Page page("src", "ext");
            page.events(0, kTypeIndex, 1);
            testhost::OpaqueRecord start;
            start.type = VEM_OPAQUE_EVENT_EXTENDED;
            start.app = testhost::netflow_app_id();
            start.id = id;
            start.offset = static_cast<uint32_t>(payload.size());
            start.value1 = value1;
            start.data = testhost::meta({"k=v"});
            page.record(start, record_size);
            if (!feed(page, record_size))
                return false;
        }
        for (size_t at = 0; at < payload.size(); at += chunk_size) {
            testhost::Page page("src", "ext");
            page.events(0, kTypeIndex, 1);
            testhost::OpaqueRecord chunk;
            chunk.type = VEM_OPAQUE_EVENT_CHUNK;
            chunk.app = testhost::netflow_app_id();
            chunk.id = id;
            chunk.offset = static_cast<uint32_t>(at);
            chunk.data.assign(payload.begin() + at,
                              payload.begin() + std::min(payload.size(), at + chunk_size));
            page.record(chunk, record_size);
            if (!feed(page, record_size))
                return false;
        }
        return true;
    }

  private:
    bool feed(testhost::Page &page, size_t record_size) {
        testhost::Types types;
        types.define_opaque(0, kTypeIndex, record_size);
        auto lookup = types.lookup();
        return api_->process_data_page(exporter_, page.finish(), &lookup);
    }

    const vem_exporter_api_t *api_;
    void *exporter_;
};

} // namespace nftest
