// The settings of one "forward" output, read once from its properties at init.
#pragma once

#include <string>

#include "engine/output_api.h"

namespace fwd {

constexpr const char *kDefaultHost = "127.0.0.1";
constexpr const char *kDefaultPort = "24224";

struct ForwardConfig {
    std::string host;  // never empty: an empty Host means the default
    std::string port;  // decimal 1..65535; an empty Port means the default
    std::string tag;   // empty: each chunk's own tag
    bool time_as_integer = false;
    bool send_options = false;
    bool require_ack = false;
    bool compress_gzip = false;
    int ack_timeout_s = 30;
    int connect_timeout_s = 10;

    std::string shared_key;  // empty: no handshake
    std::string self_hostname;
    std::string username;
    std::string password;

    bool tls = false;
    bool tls_verify = true;
    std::string tls_ca_file;
    std::string tls_crt_file;
    std::string tls_key_file;
    std::string tls_vhost;  // name checked in the certificate and sent as SNI

    // "host:port" for log lines.
    std::string peer() const { return host + ":" + port; }
};

// The plugin's own property table (Host and Port are common output keys).
extern const engine::PropertyDef kForwardProperties[];

// Rules beyond the property types: Port's range, Compress's words, positive timeouts.
// NULL when `value` is acceptable for `key`, else the reason.
const char *check_forward_property(const char *key, const char *value);

// Fills `out` from the instance. False, with `*error` set, when a value is unusable.
bool load_forward_config(const engine::Instance &ins, ForwardConfig *out, std::string *error);

}  // namespace fwd
