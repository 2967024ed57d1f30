#include "engine/plugins/out_forward/forward_encode.h"

#include <cmath>
#include <cstring>

#include "engine/plugins/out_forward/reply_scan.h"

namespace fwd {

namespace {

struct EventTime {
    int64_t sec;
    uint32_t nsec;
};

// Reads a time value of `len` bytes: EventTime, an integer of seconds or a float.
bool read_time(const uint8_t *p, size_t len, EventTime *t) {
    uint8_t b = p[0];
    if (b == 0xd7 && len == 10 && p[1] == 0x00) {
        t->sec = static_cast<int64_t>(engine::read_be(p + 2, 4));
        t->nsec = static_cast<uint32_t>(engine::read_be(p + 6, 4));
        return true;
    }
    if (b <= 0x7f) {
        *t = {b, 0};
        return true;
    }
    if (b >= 0xcc && b <= 0xcf) {
        uint64_t v = engine::read_be(p + 1, 1 << (b - 0xcc));
        if (v > INT64_MAX)
            return false;
        *t = {static_cast<int64_t>(v), 0};
        return true;
    }
    if (b >= 0xd0 && b <= 0xd3) {
        int n = 1 << (b - 0xd0);
        uint64_t v = engine::read_be(p + 1, n);
        if (n < 8 && (v >> (8 * n - 1)))
            v |= ~0ull << (8 * n);  // sign-extend
        *t = {static_cast<int64_t>(v), 0};
        return true;
    }
    if (b >= 0xe0) {
        *t = {static_cast<int8_t>(b), 0};
        return true;
    }
    if (b == 0xca || b == 0xcb) {
        double d;
        if (b == 0xca) {
            uint32_t u = static_cast<uint32_t>(engine::read_be(p + 1, 4));
            float f;
            memcpy(&f, &u, 4);
            d = f;
        } else {
            uint64_t u = engine::read_be(p + 1, 8);
            memcpy(&d, &u, 8);
        }
        if (!std::isfinite(d) || d < 0 || d > 4294967295.0)
            return false;
        double whole = std::floor(d);
        *t = {static_cast<int64_t>(whole), static_cast<uint32_t>(std::min(999999999.0, (d - whole) * 1e9))};
        return true;
    }
    return false;
}

bool is_map(uint8_t b) { return (b >= 0x80 && b <= 0x8f) || b == 0xde || b == 0xdf; }

// Length of the object at p (all of it within n bytes), 0 when it is not valid.
size_t object_length(const uint8_t *p, size_t n) {
    if (n == 0)
        return 0;
    ScanOutcome s = scan_stream_object(p, n, n, kMaxEventDepth);
    return s.status == ScanStatus::Complete ? s.length : 0;
}

}  // namespace

MessageEncoder::~MessageEncoder() {
    if (zs_ready_)
        deflateEnd(&zs_);
}

bool MessageEncoder::convert_entries(const engine::Chunk &chunk, bool time_as_integer, std::string *error) {
    entries_.clear();
    entries_.data().reserve(chunk.size + chunk.size / 8 + 16);
    records_ = 0;
    const uint8_t *data = reinterpret_cast<const uint8_t *>(chunk.data);
    size_t off = 0;
    while (off < chunk.size) {
        const uint8_t *ev = data + off;
        size_t left = chunk.size - off;
        size_t ev_len = object_length(ev, left);
        auto bad = [&](const char *why) {
            *error = "event at byte " + std::to_string(off) + " of the chunk: " + why;
            return false;
        };
        if (ev_len == 0)
            return bad("not a complete MessagePack object");
        if (ev[0] != 0x92)
            return bad("not an array of two elements");
        // First element: [time, metadata] or a bare time. The engine's own layout,
        // [[EventTime, {}], record], is recognised without further scans.
        const uint8_t *first = ev + 1;
        size_t first_len;
        const uint8_t *time_p;
        size_t time_len;
        if (ev_len > 13 && ev[1] == 0x92 && ev[2] == 0xd7 && ev[3] == 0x00 && ev[12] == 0x80) {
            first_len = 12;
            time_p = ev + 2;
            time_len = 10;
        } else {
            first_len = object_length(first, ev_len - 1);
            time_p = first;
            time_len = first_len;
            if (first_len && first[0] == 0x92) {
                time_p = first + 1;
                time_len = object_length(time_p, first_len - 1);
            }
        }
        EventTime t;
        if (time_len == 0 || !read_time(time_p, time_len, &t))
            return bad("no valid time");
        const uint8_t *record = first + first_len;
        size_t record_len = ev_len - 1 - first_len;
        // The event was measured whole and holds two elements, so the rest is exactly the
        // record.
        if (first_len == 0 || record_len == 0 || !is_map(record[0]))
            return bad("the record is not a map");

        // [time, record]: array header and time in one append, then the record's bytes.
        uint8_t head[16];
        size_t head_len = 0;
        head[head_len++] = 0x92;
        if (time_as_integer) {
            MsgpackWriter::put_int(head, &head_len, t.sec);
        } else {
            uint32_t sec = static_cast<uint32_t>(t.sec);
            const uint8_t et[10] = {0xd7, 0x00, uint8_t(sec >> 24), uint8_t(sec >> 16), uint8_t(sec >> 8), uint8_t(sec),
                                    uint8_t(t.nsec >> 24), uint8_t(t.nsec >> 16), uint8_t(t.nsec >> 8), uint8_t(t.nsec)};
            memcpy(head + head_len, et, sizeof et);
            head_len += sizeof et;
        }
        entries_.raw(head, head_len);
        entries_.raw(record, record_len);
        ++records_;
        off += ev_len;
    }
    return true;
}

bool MessageEncoder::gzip_entries(std::string *error) {
    if (!zs_ready_) {
        // windowBits 15 + 16: a gzip member (header and CRC), as the receiver expects.
        if (deflateInit2(&zs_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
            *error = "cannot start gzip compression";
            return false;
        }
        zs_ready_ = true;
    } else {
        deflateReset(&zs_);
    }
    const std::string &in = entries_.data();
    compressed_.resize(deflateBound(&zs_, in.size()) + 32);
    zs_.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in.data()));
    zs_.avail_in = static_cast<uInt>(in.size());
    zs_.next_out = reinterpret_cast<Bytef *>(compressed_.data());
    zs_.avail_out = static_cast<uInt>(compressed_.size());
    if (deflate(&zs_, Z_FINISH) != Z_STREAM_END) {
        *error = "gzip compression failed";
        return false;
    }
    compressed_.resize(zs_.total_out);
    return true;
}

bool MessageEncoder::encode(const engine::Chunk &chunk, const ForwardConfig &config, const std::string &chunk_id,
                            std::string *error) {
    if (chunk.size > UINT32_MAX / 2) {
        *error = "chunk too large for one message";
        return false;
    }
    if (!convert_entries(chunk, config.time_as_integer, error))
        return false;
    use_compressed_ = config.compress_gzip;
    if (use_compressed_ && !gzip_entries(error))
        return false;
    bool with_options = config.send_options || !chunk_id.empty() || use_compressed_;

    head_.clear();
    head_.array(with_options ? 3 : 2);
    if (!config.tag.empty())
        head_.str(config.tag);
    else
        head_.str(std::string_view(chunk.tag, chunk.tag_len));
    head_.bin_header(use_compressed_ ? compressed_.size() : entries_.data().size());

    tail_.clear();
    if (with_options) {
        tail_.map(1 + !chunk_id.empty() + use_compressed_);
        tail_.str("size");
        tail_.uint(records_);
        if (!chunk_id.empty()) {
            tail_.str("chunk");
            tail_.str(chunk_id);
        }
        if (use_compressed_) {
            tail_.str("compressed");
            tail_.str("gzip");
        }
    }
    return true;
}

size_t MessageEncoder::slices(Slice out[3]) const {
    out[0] = {head_.data().data(), head_.data().size()};
    if (use_compressed_)
        out[1] = {compressed_.data(), compressed_.size()};
    else
        out[1] = {entries_.data().data(), entries_.data().size()};
    out[2] = {tail_.data().data(), tail_.data().size()};
    return out[2].size ? 3 : 2;
}

size_t MessageEncoder::bytes() const {
    Slice s[3];
    size_t n = slices(s), total = 0;
    for (size_t i = 0; i < n; ++i)
        total += s[i].size;
    return total;
}

}  // namespace fwd
