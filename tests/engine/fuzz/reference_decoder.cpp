// The object-based decoder that the engine first used: the pre-scan, then the MessagePack
// library decodes each event into objects and packs them again. Kept as the reference
// that the fuzz target compares the engine's span-copying decoder with, and as the
// alternative the decode benchmark measures.
#include "engine/fuzz/reference_decoder.h"

#include <msgpack.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/core/msgpack_scan.h"

namespace enginetest {
using engine::DecodeOutcome;
using engine::EventTime;
using engine::msgpack_scan_object;
using engine::ScanResult;

namespace {

int append_to_string(void *target, const char *bytes, size_t len) {
    static_cast<std::string *>(target)->append(bytes, len);
    return 0;
}

DecodeOutcome fail(size_t at, const char *format, ...) __attribute__((format(printf, 2, 3)));
DecodeOutcome fail(size_t at, const char *format, ...) {
    DecodeOutcome r;
    r.error_at = at;
    va_list ap;
    va_start(ap, format);
    vsnprintf(r.reason, sizeof r.reason, format, ap);
    va_end(ap);
    return r;
}

// The time forms of an event; false with *why set when o is none of them.
bool read_time(const msgpack_object &o, EventTime *t, const char **why) {
    switch (o.type) {
    case MSGPACK_OBJECT_POSITIVE_INTEGER:
        if (o.via.u64 > UINT32_MAX) {
            *why = "time in seconds beyond 32 bits";
            return false;
        }
        *t = {static_cast<uint32_t>(o.via.u64), 0};
        return true;
    case MSGPACK_OBJECT_FLOAT32:
    case MSGPACK_OBJECT_FLOAT64: {
        double d = o.via.f64;
        if (!std::isfinite(d) || d < 0 || d >= 4294967296.0) {
            *why = "time as float out of range";
            return false;
        }
        double whole = std::floor(d);
        double nanos = std::floor((d - whole) * 1e9);
        *t = {static_cast<uint32_t>(whole),
              static_cast<uint32_t>(nanos > 999999999 ? 999999999 : nanos)};
        return true;
    }
    case MSGPACK_OBJECT_EXT:
        if (o.via.ext.type != 0 || o.via.ext.size != 8) {
            *why = "time extension is not an EventTime (type 0, 8 bytes)";
            return false;
        }
        {
            const auto *p = reinterpret_cast<const uint8_t *>(o.via.ext.ptr);
            uint32_t sec =
                (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
            uint32_t nsec =
                (uint32_t{p[4]} << 24) | (uint32_t{p[5]} << 16) | (uint32_t{p[6]} << 8) | p[7];
            if (nsec > 999999999) {
                *why = "EventTime nanoseconds above 999999999";
                return false;
            }
            *t = {sec, nsec};
        }
        return true;
    case MSGPACK_OBJECT_NEGATIVE_INTEGER:
        *why = "negative time";
        return false;
    default:
        *why = "time is not an integer, a float or an EventTime";
        return false;
    }
}

// Finds the time, metadata and record of one event; false with *why when its shape is
// none of the three.
bool split_event(const msgpack_object &ev, EventTime arrival, EventTime *t,
                 const msgpack_object **meta, const msgpack_object **record, char *why,
                 size_t why_size) {
    *meta = nullptr;
    if (ev.type == MSGPACK_OBJECT_MAP) {
        *t = arrival;
        *record = &ev;
        return true;
    }
    if (ev.type != MSGPACK_OBJECT_ARRAY) {
        snprintf(why, why_size, "event is neither an array nor a map");
        return false;
    }
    if (ev.via.array.size != 2) {
        snprintf(why, why_size, "event array of %u elements where 2 are expected",
                 ev.via.array.size);
        return false;
    }
    const msgpack_object &head = ev.via.array.ptr[0];
    *record = &ev.via.array.ptr[1];
    if ((*record)->type != MSGPACK_OBJECT_MAP) {
        snprintf(why, why_size, "record is not a map");
        return false;
    }
    const msgpack_object *time = &head;
    if (head.type == MSGPACK_OBJECT_ARRAY) {
        if (head.via.array.size != 2) {
            snprintf(why, why_size, "event header array of %u elements where 2 are expected",
                     head.via.array.size);
            return false;
        }
        time = &head.via.array.ptr[0];
        *meta = &head.via.array.ptr[1];
        if ((*meta)->type != MSGPACK_OBJECT_MAP) {
            snprintf(why, why_size, "metadata is not a map");
            return false;
        }
    }
    const char *bad = nullptr;
    if (!read_time(*time, t, &bad)) {
        snprintf(why, why_size, "%s", bad);
        return false;
    }
    return true;
}

void pack_event(msgpack_packer *pk, EventTime t, const msgpack_object *meta,
                const msgpack_object &record) {
    uint8_t et[8] = {static_cast<uint8_t>(t.sec >> 24),  static_cast<uint8_t>(t.sec >> 16),
                     static_cast<uint8_t>(t.sec >> 8),   static_cast<uint8_t>(t.sec),
                     static_cast<uint8_t>(t.nsec >> 24), static_cast<uint8_t>(t.nsec >> 16),
                     static_cast<uint8_t>(t.nsec >> 8),  static_cast<uint8_t>(t.nsec)};
    msgpack_pack_array(pk, 2);
    msgpack_pack_array(pk, 2);
    msgpack_pack_ext_with_body(pk, et, sizeof et, 0);
    if (meta)
        msgpack_pack_object(pk, *meta);
    else
        msgpack_pack_map(pk, 0);
    msgpack_pack_object(pk, record);
}

struct Zone {
    msgpack_zone zone;
    bool ready;
    Zone() { ready = msgpack_zone_init(&zone, 16384); }
    ~Zone() {
        if (ready)
            msgpack_zone_destroy(&zone);
    }
};

} // namespace

DecodeOutcome reference_decode_events(const uint8_t *data, size_t size, EventTime arrival,
                                      std::string &out) {
    if (size == 0)
        return fail(0, "empty buffer");
    // Pass 1: every object is well-formed and within the buffer.
    for (size_t at = 0; at < size;) {
        ScanResult s = msgpack_scan_object(data, size, at);
        if (!s.ok)
            return fail(s.error_at, "%s", s.reason);
        at = s.end;
    }

    // Pass 2: each event has one of the shapes; records are appended as they come and
    // taken back if a later event is rejected.
    Zone zone;
    if (!zone.ready)
        return fail(0, "out of memory");
    const size_t before = out.size();
    msgpack_packer pk;
    msgpack_packer_init(&pk, &out, append_to_string);
    DecodeOutcome r;
    const char *bytes = reinterpret_cast<const char *>(data);
    for (size_t at = 0; at < size;) {
        size_t start = at;
        msgpack_object ev;
        msgpack_unpack_return ret = msgpack_unpack(bytes, size, &at, &zone.zone, &ev);
        if (ret != MSGPACK_UNPACK_SUCCESS && ret != MSGPACK_UNPACK_EXTRA_BYTES) {
            out.resize(before);
            return fail(start,
                        ret == MSGPACK_UNPACK_NOMEM_ERROR ? "out of memory" : "undecodable object");
        }
        EventTime t;
        const msgpack_object *meta = nullptr;
        const msgpack_object *record = nullptr;
        char why[96];
        if (!split_event(ev, arrival, &t, &meta, &record, why, sizeof why)) {
            out.resize(before);
            return fail(start, "%s", why);
        }
        pack_event(&pk, t, meta, *record);
        ++r.records;
        msgpack_zone_clear(&zone.zone);
    }
    r.ok = true;
    return r;
}

} // namespace enginetest
