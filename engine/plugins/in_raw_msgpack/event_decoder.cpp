#include "engine/plugins/in_raw_msgpack/event_decoder.h"

#include <msgpack.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "engine/core/msgpack_scan.h"

// Every byte is checked by the bounded pre-scan (msgpack_scan_object) before it is looked
// at or copied. An event's metadata and record maps are then copied as the validated
// bytes they are, and only the envelope [[EventTime, ...], ...] is encoded anew with the
// MessagePack library: decoding records into objects and packing them again made the
// input several times slower (see the decode benchmark) without checking anything more.

namespace engine {

namespace {

struct Fault {
    size_t at;
    char reason[96];
};

Fault fault(size_t at, const char *format, ...) __attribute__((format(printf, 2, 3)));
Fault fault(size_t at, const char *format, ...) {
    Fault f{at, {}};
    va_list ap;
    va_start(ap, format);
    vsnprintf(f.reason, sizeof f.reason, format, ap);
    va_end(ap);
    return f;
}

uint64_t be(const uint8_t *p, size_t n) {
    uint64_t v = 0;
    for (size_t i = 0; i < n; ++i)
        v = (v << 8) | p[i];
    return v;
}

bool is_map(uint8_t b) {
    return (b >= 0x80 && b <= 0x8f) || b == 0xde || b == 0xdf;
}

// Element count of the array whose (validated) header is at p, and the header's length;
// false when p is not an array.
bool array_header(const uint8_t *p, uint64_t *count, size_t *header) {
    if (p[0] >= 0x90 && p[0] <= 0x9f)
        return *count = p[0] & 0x0f, *header = 1, true;
    if (p[0] == 0xdc)
        return *count = be(p + 1, 2), *header = 3, true;
    if (p[0] == 0xdd)
        return *count = be(p + 1, 4), *header = 5, true;
    return false;
}

// Reads the validated time object at p: integer seconds, float or EventTime.
const char *read_time(const uint8_t *p, EventTime *t) {
    uint8_t b = p[0];
    uint64_t u = 0;
    if (b <= 0x7f) {
        u = b;
    } else if (b >= 0xcc && b <= 0xcf) {
        u = be(p + 1, size_t{1} << (b - 0xcc));
    } else if (b >= 0xd0 && b <= 0xd3) {
        size_t n = size_t{1} << (b - 0xd0);
        if (p[1] & 0x80)
            return "negative time";
        u = be(p + 1, n);
    } else if (b >= 0xe0) {
        return "negative time";
    } else if (b == 0xca || b == 0xcb) {
        double d;
        if (b == 0xca) {
            uint32_t bits = static_cast<uint32_t>(be(p + 1, 4));
            float f;
            memcpy(&f, &bits, sizeof f);
            d = f;
        } else {
            uint64_t bits = be(p + 1, 8);
            memcpy(&d, &bits, sizeof d);
        }
        if (!std::isfinite(d) || d < 0 || d >= 4294967296.0)
            return "time as float out of range";
        double whole = std::floor(d);
        double nanos = std::floor((d - whole) * 1e9);
        *t = {static_cast<uint32_t>(whole),
              static_cast<uint32_t>(nanos > 999999999 ? 999999999 : nanos)};
        return nullptr;
    } else if (b == 0xd7 || b == 0xc7 || b == 0xc8 || b == 0xc9 || (b >= 0xd4 && b <= 0xd8)) {
        // Extensions: fixext (type at 1) or ext 8/16/32 (length, then type).
        size_t len_bytes = b == 0xc7 ? 1 : b == 0xc8 ? 2 : b == 0xc9 ? 4 : 0;
        uint64_t len = len_bytes ? be(p + 1, len_bytes) : (uint64_t{1} << (b - 0xd4));
        const uint8_t *type = p + 1 + len_bytes;
        if (static_cast<int8_t>(*type) != 0 || len != 8)
            return "time extension is not an EventTime (type 0, 8 bytes)";
        uint32_t sec = static_cast<uint32_t>(be(type + 1, 4));
        uint32_t nsec = static_cast<uint32_t>(be(type + 5, 4));
        if (nsec > 999999999)
            return "EventTime nanoseconds above 999999999";
        *t = {sec, nsec};
        return nullptr;
    } else {
        return "time is not an integer, a float or an EventTime";
    }
    if (u > UINT32_MAX)
        return "time in seconds beyond 32 bits";
    *t = {static_cast<uint32_t>(u), 0};
    return nullptr;
}

struct Event {
    EventTime time;
    size_t meta_at = 0, meta_end = 0; // empty: no metadata
    size_t record_at = 0, record_end = 0;
    size_t end = 0;
};

// Scans the object at `at` and gives its end; on a fault fills *f.
bool scan(const uint8_t *data, size_t size, size_t at, size_t *end, Fault *f) {
    ScanResult s = msgpack_scan_object(data, size, at);
    if (!s.ok) {
        *f = fault(s.error_at, "%s", s.reason);
        return false;
    }
    *end = s.end;
    return true;
}

// Splits the event at `at` into time, metadata and record, validating every part.
bool split_event(const uint8_t *data, size_t size, size_t at, EventTime arrival, Event *ev,
                 Fault *f) {
    if (!scan(data, size, at, &ev->end, f))
        return false;
    // From here on the whole event lies within the buffer and is well-formed.
    const uint8_t *p = data + at;
    if (is_map(*p)) {
        ev->time = arrival;
        ev->record_at = at;
        ev->record_end = ev->end;
        return true;
    }
    uint64_t count;
    size_t header;
    if (!array_header(p, &count, &header)) {
        *f = fault(at, "event is neither an array nor a map");
        return false;
    }
    if (count != 2) {
        *f = fault(at, "event array of %llu elements where 2 are expected",
                   static_cast<unsigned long long>(count));
        return false;
    }
    size_t first = at + header, first_end = 0;
    scan(data, size, first, &first_end, f);
    ev->record_at = first_end;
    scan(data, size, ev->record_at, &ev->record_end, f);
    if (!is_map(data[ev->record_at])) {
        *f = fault(at, "record is not a map");
        return false;
    }
    size_t time_at = first;
    uint64_t inner;
    size_t inner_header;
    if (array_header(data + first, &inner, &inner_header)) {
        if (inner != 2) {
            *f = fault(at, "event header array of %llu elements where 2 are expected",
                       static_cast<unsigned long long>(inner));
            return false;
        }
        time_at = first + inner_header;
        scan(data, size, time_at, &ev->meta_at, f);
        scan(data, size, ev->meta_at, &ev->meta_end, f);
        if (!is_map(data[ev->meta_at])) {
            *f = fault(at, "metadata is not a map");
            return false;
        }
    }
    if (const char *why = read_time(data + time_at, &ev->time)) {
        *f = fault(at, "%s", why);
        return false;
    }
    return true;
}

int append_to_string(void *target, const char *bytes, size_t len) {
    static_cast<std::string *>(target)->append(bytes, len);
    return 0;
}

void append_event(std::string &out, msgpack_packer *pk, const uint8_t *data, const Event &ev) {
    const EventTime t = ev.time;
    uint8_t et[8] = {static_cast<uint8_t>(t.sec >> 24),  static_cast<uint8_t>(t.sec >> 16),
                     static_cast<uint8_t>(t.sec >> 8),   static_cast<uint8_t>(t.sec),
                     static_cast<uint8_t>(t.nsec >> 24), static_cast<uint8_t>(t.nsec >> 16),
                     static_cast<uint8_t>(t.nsec >> 8),  static_cast<uint8_t>(t.nsec)};
    msgpack_pack_array(pk, 2);
    msgpack_pack_array(pk, 2);
    msgpack_pack_ext_with_body(pk, et, sizeof et, 0);
    const char *bytes = reinterpret_cast<const char *>(data);
    if (ev.meta_end > ev.meta_at)
        out.append(bytes + ev.meta_at, ev.meta_end - ev.meta_at);
    else
        msgpack_pack_map(pk, 0);
    out.append(bytes + ev.record_at, ev.record_end - ev.record_at);
}

} // namespace

DecodeOutcome decode_events(const uint8_t *data, size_t size, EventTime arrival, std::string &out) {
    DecodeOutcome r;
    if (size == 0) {
        snprintf(r.reason, sizeof r.reason, "empty buffer");
        return r;
    }
    const size_t before = out.size();
    msgpack_packer pk;
    msgpack_packer_init(&pk, &out, append_to_string);
    for (size_t at = 0; at < size;) {
        Event ev;
        Fault f{};
        if (!split_event(data, size, at, arrival, &ev, &f)) {
            out.resize(before);
            r.records = 0;
            r.error_at = f.at;
            memcpy(r.reason, f.reason, sizeof r.reason);
            return r;
        }
        append_event(out, &pk, data, ev);
        ++r.records;
        at = ev.end;
    }
    r.ok = true;
    return r;
}

} // namespace engine
