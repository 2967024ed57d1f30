#include "engine/plugins/out_forward/forward_config.h"

#include <strings.h>
#include <unistd.h>

#include <climits>

namespace fwd {

using engine::PropType;

const engine::PropertyDef kForwardProperties[] = {
    {"Tag", PropType::String, nullptr, "tag sent instead of each chunk's own"},
    {"Time_as_Integer", PropType::Bool, "off", "send event times as whole seconds, not EventTime"},
    {"Send_options", PropType::Bool, "off", "send the option map with the record count"},
    {"Require_ack_response", PropType::Bool, "off", "wait for the receiver's ack of every chunk"},
    {"Ack_Timeout", PropType::Int, "30", "seconds to wait for an ack (also for a stalled write)"},
    {"Connect_Timeout", PropType::Int, "10", "seconds for connect, TLS and shared-key handshake"},
    {"Compress", PropType::String, nullptr, "gzip: send CompressedPackedForward"},
    {"Shared_Key", PropType::String, nullptr, "shared key of the HELO/PING/PONG handshake"},
    {"Self_Hostname", PropType::String, nullptr, "host name sent in PING; default: this machine's"},
    {"Username", PropType::String, nullptr, "user name for the receiver's user authentication"},
    {"Password", PropType::String, nullptr, "password for the receiver's user authentication"},
    {"tls", PropType::Bool, "off", "connect with TLS"},
    {"tls.verify", PropType::Bool, "on", "verify the receiver's certificate and name"},
    {"tls.ca_file", PropType::String, nullptr, "CA certificates (PEM); default: the system's"},
    {"tls.crt_file", PropType::String, nullptr, "client certificate chain (PEM)"},
    {"tls.key_file", PropType::String, nullptr, "client private key (PEM)"},
    {"tls.vhost", PropType::String, nullptr, "server name for SNI and verification; default: Host"},
    {nullptr, PropType::String, nullptr, nullptr},
};

// Port: empty (the default) or a decimal number 1..65535, nothing else.
static bool port_ok(const char *value) {
    if (*value == '\0')
        return true;
    long long n = 0;
    for (const char *p = value; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return engine::parse_int(value, &n) && n >= 1 && n <= 65535;
}

static bool positive_seconds(const char *value) {
    long long n = 0;
    return engine::parse_int(value, &n) && n > 0 && n <= 24 * 3600;
}

const char *check_forward_property(const char *key, const char *value) {
    if (strcasecmp(key, "Port") == 0 && !port_ok(value))
        return "a port is a number from 1 to 65535";
    if ((strcasecmp(key, "Ack_Timeout") == 0 || strcasecmp(key, "Connect_Timeout") == 0) &&
        !positive_seconds(value))
        return "a timeout is a whole number of seconds above 0";
    if (strcasecmp(key, "Compress") == 0 && *value != '\0' && strcasecmp(value, "gzip") != 0)
        return "the only compression is gzip";
    return nullptr;
}

static std::string text(const engine::Instance &ins, const char *key) {
    const char *v = ins.get(key);
    return v ? v : "";
}

bool load_forward_config(const engine::Instance &ins, ForwardConfig *out, std::string *error) {
    static const char *const checked[] = {"Port", "Ack_Timeout", "Connect_Timeout", "Compress"};
    for (const char *key : checked) {
        const char *v = ins.get(key);
        if (const char *why = v ? check_forward_property(key, v) : nullptr) {
            *error = std::string("invalid ") + key + " '" + v + "': " + why;
            return false;
        }
    }
    ForwardConfig c;
    c.host = text(ins, "Host");
    if (c.host.empty())
        c.host = kDefaultHost;
    c.port = text(ins, "Port");
    if (c.port.empty())
        c.port = kDefaultPort;
    c.tag = text(ins, "Tag");
    c.time_as_integer = ins.get_bool("Time_as_Integer");
    c.send_options = ins.get_bool("Send_options");
    c.require_ack = ins.get_bool("Require_ack_response");
    c.compress_gzip = !text(ins, "Compress").empty();
    c.ack_timeout_s = static_cast<int>(ins.get_int("Ack_Timeout", 30));
    c.connect_timeout_s = static_cast<int>(ins.get_int("Connect_Timeout", 10));
    c.shared_key = text(ins, "Shared_Key");
    c.self_hostname = text(ins, "Self_Hostname");
    if (c.self_hostname.empty()) {
        char name[HOST_NAME_MAX + 1] = {};
        if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
            snprintf(name, sizeof name, "localhost");
        c.self_hostname = name;
    }
    c.username = text(ins, "Username");
    c.password = text(ins, "Password");
    c.tls = ins.get_bool("tls");
    c.tls_verify = ins.get_bool("tls.verify");
    c.tls_ca_file = text(ins, "tls.ca_file");
    c.tls_crt_file = text(ins, "tls.crt_file");
    c.tls_key_file = text(ins, "tls.key_file");
    c.tls_vhost = text(ins, "tls.vhost");
    if (c.tls_crt_file.empty() != c.tls_key_file.empty()) {
        *error = "tls.crt_file and tls.key_file go together";
        return false;
    }
    *out = std::move(c);
    return true;
}

}  // namespace fwd
