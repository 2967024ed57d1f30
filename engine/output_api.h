// What an output plugin sees of the engine. Header-only, so that a plugin can be built
// and tested on its own: the engine core creates Instances, checks every property
// against the plugin's table before it stores it, and calls the callbacks.
//
// Threading: each output instance gets a thread of its own from the engine. init, every
// flush and exit run on that thread, one at a time, so a plugin may block (connect,
// handshake, ack wait) without delaying the engine's event loop or the doorbell. The
// engine never hands an instance the next chunk of a tag before the previous one of that
// tag was delivered or dropped, so order per tag is kept.
#pragma once

#include <strings.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace engine {

enum class PropType {
    String,  // any text
    Bool,    // on/off, true/false, yes/no, 1/0 (case-insensitive)
    Int,     // decimal integer
    Double,  // decimal number
    Size,    // bytes with optional k, M, G suffix
};

struct PropertyDef {
    const char *name;          // matched case-insensitively
    PropType type;
    const char *default_value; // NULL: no default
    const char *description;   // one line
};

enum class LogLevel { Error = 1, Warn = 2, Info = 3, Debug = 4 };

// The engine's log threshold (Log_Level), set by the core.
inline std::atomic<int> &log_threshold() {
    static std::atomic<int> level{static_cast<int>(LogLevel::Info)};
    return level;
}

// "[engine] [level] message" on standard error, filtered by Log_Level.
inline void log(LogLevel level, const char *format, ...) __attribute__((format(printf, 2, 3)));
inline void log(LogLevel level, const char *format, ...) {
    if (static_cast<int>(level) > log_threshold().load(std::memory_order_relaxed))
        return;
    static const char *const names[] = {"", "error", "warn", "info", "debug"};
    char message[2048];
    va_list ap;
    va_start(ap, format);
    vsnprintf(message, sizeof message, format, ap);
    va_end(ap);
    fprintf(stderr, "[engine] [%s] %s\n", names[static_cast<int>(level)], message);
}

inline bool parse_bool(const char *v, bool *out) {
    static const char *const yes[] = {"on", "true", "yes", "1"};
    static const char *const no[] = {"off", "false", "no", "0"};
    for (auto *w : yes)
        if (strcasecmp(v, w) == 0)
            return *out = true, true;
    for (auto *w : no)
        if (strcasecmp(v, w) == 0)
            return *out = false, true;
    return false;
}

inline bool parse_int(const char *v, long long *out) {
    char *end = nullptr;
    errno = 0;
    long long x = strtoll(v, &end, 10);
    if (end == v || *end != '\0' || errno == ERANGE)
        return false;
    *out = x;
    return true;
}

inline bool parse_double(const char *v, double *out) {
    char *end = nullptr;
    double x = strtod(v, &end);
    if (end == v || *end != '\0')
        return false;
    *out = x;
    return true;
}

inline bool parse_size(const char *v, uint64_t *out) {
    char *end = nullptr;
    errno = 0;
    unsigned long long x = strtoull(v, &end, 10);
    if (end == v || errno == ERANGE || *v == '-')
        return false;
    uint64_t mult = 1;
    if (*end) {
        switch (*end) {
        case 'k': case 'K': mult = 1024ull; break;
        case 'm': case 'M': mult = 1024ull * 1024; break;
        case 'g': case 'G': mult = 1024ull * 1024 * 1024; break;
        default: return false;
        }
        ++end;
        if (*end == 'b' || *end == 'B')
            ++end;
        if (*end)
            return false;
    }
    if (x > UINT64_MAX / mult)
        return false;
    *out = x * mult;
    return true;
}

inline bool value_fits(PropType type, const char *v) {
    bool b;
    long long i;
    double d;
    uint64_t s;
    switch (type) {
    case PropType::String: return true;
    case PropType::Bool: return parse_bool(v, &b);
    case PropType::Int: return parse_int(v, &i);
    case PropType::Double: return parse_double(v, &d);
    case PropType::Size: return parse_size(v, &s);
    }
    return false;
}

struct OutputPlugin;

// One configured output. Properties hold what the user set, already checked against
// the plugin's table; getters fall back to the table's default.
struct Instance {
    const OutputPlugin *plugin = nullptr;
    std::string name;  // "<plugin>.<n>", or the Alias
    std::vector<std::pair<std::string, std::string>> properties;
    void *context = nullptr;  // the plugin's own state, set by init
    // Readable (an eventfd) when the engine wants blocking work cut short: stop after
    // Grace. Plugins add it to their poll sets. -1 when there is none.
    int abort_fd = -1;

    inline const char *get(const char *key) const;
    bool get_bool(const char *key) const {
        const char *v = get(key);
        bool b = false;
        return v && parse_bool(v, &b) && b;
    }
    long long get_int(const char *key, long long fallback = 0) const {
        const char *v = get(key);
        long long x;
        return v && parse_int(v, &x) ? x : fallback;
    }
    double get_double(const char *key, double fallback = 0) const {
        const char *v = get(key);
        double x;
        return v && parse_double(v, &x) ? x : fallback;
    }
    void set(const char *key, const char *value) {
        for (auto &p : properties)
            if (strcasecmp(p.first.c_str(), key) == 0) {
                p.second = value;
                return;
            }
        properties.emplace_back(key, value);
    }
};

// A chunk as handed to flush: the records of one tag, as concatenated MessagePack
// events in the layout [[time, metadata-map], record-map], time an EventTime (ext type 0:
// big-endian uint32 seconds, uint32 nanoseconds).
struct Chunk {
    const char *tag;
    size_t tag_len;
    const char *data;
    size_t size;
    size_t records;
};

enum class FlushResult {
    Ok,     // delivered
    Retry,  // failed; hand it again later with backoff, within Retry_Limit
    Error,  // failed for good; drop it
};

struct OutputPlugin {
    const char *name;
    const PropertyDef *properties;  // terminated by an entry whose name is NULL
    const char *description;
    // Called once on the instance's thread before the first flush. 0, or -1 to fail the
    // engine start.
    int (*init)(Instance *ins);
    FlushResult (*flush)(Instance *ins, const Chunk &chunk);
    void (*exit)(Instance *ins);
    // Optional: rules beyond the property's type (a port's range, a list of accepted
    // words). Returns NULL when the value is acceptable, else a one-line reason, and the
    // engine then fails the set. Also asked for the common keys (Host, Port, ...).
    const char *(*check_property)(const char *key, const char *value) = nullptr;
};

// Properties every output accepts besides its own table.
inline const PropertyDef *common_output_properties() {
    static const PropertyDef props[] = {
        {"Alias", PropType::String, nullptr, "name of the instance in log lines"},
        {"Match", PropType::String, nullptr, "tag pattern with * wildcards; none: every tag"},
        {"Retry_Limit", PropType::String, "5", "retries per chunk; no_limits or false: unlimited"},
        {"Host", PropType::String, nullptr, "network host of the destination"},
        {"Port", PropType::String, nullptr, "network port of the destination"},
        {nullptr, PropType::String, nullptr, nullptr},
    };
    return props;
}

inline const PropertyDef *find_property(const PropertyDef *table, const char *key) {
    for (; table && table->name; ++table)
        if (strcasecmp(table->name, key) == 0)
            return table;
    return nullptr;
}

inline const char *Instance::get(const char *key) const {
    for (auto &p : properties)
        if (strcasecmp(p.first.c_str(), key) == 0)
            return p.second.c_str();
    const PropertyDef *d = plugin ? find_property(plugin->properties, key) : nullptr;
    if (!d)
        d = find_property(common_output_properties(), key);
    return d ? d->default_value : nullptr;
}

}  // namespace engine
