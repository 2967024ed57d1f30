#include "engine/plugins/out_forward/forward_reply.h"

#include <cstring>

#include "engine/plugins/out_forward/reply_scan.h"

namespace fwd {

ReplyReader::ReplyReader() : buf_(kMaxReplyBytes) { msgpack_unpacked_init(&unpacked_); }

ReplyReader::~ReplyReader() { msgpack_unpacked_destroy(&unpacked_); }

Io ReplyReader::read(Connection &conn, Deadline deadline, const msgpack_object **out, std::string *error) {
    for (;;) {
        if (have_ > 0) {
            ScanOutcome s = scan_stream_object(buf_.data(), have_, kMaxReplyBytes, kMaxReplyDepth);
            if (s.status == ScanStatus::Invalid) {
                *error = "malformed reply at byte " + std::to_string(s.error_at) + ": " + s.reason;
                have_ = 0;
                return Io::Failed;
            }
            if (s.status == ScanStatus::Complete) {
                current_.assign(buf_.begin(), buf_.begin() + static_cast<long>(s.length));
                memmove(buf_.data(), buf_.data() + s.length, have_ - s.length);
                have_ -= s.length;
                size_t off = 0;
                msgpack_unpack_return rc = msgpack_unpack_next(
                    &unpacked_, reinterpret_cast<const char *>(current_.data()), current_.size(), &off);
                if (rc != MSGPACK_UNPACK_SUCCESS || off != current_.size()) {
                    *error = "reply could not be decoded";
                    return Io::Failed;
                }
                *out = &unpacked_.data;
                return Io::Ok;
            }
        }
        size_t got = 0;
        Io io = conn.read_some(buf_.data() + have_, buf_.size() - have_, &got, deadline, error);
        if (io != Io::Ok)
            return io;
        have_ += got;
    }
}

bool as_bytes(const msgpack_object &o, std::string_view *out) {
    if (o.type == MSGPACK_OBJECT_STR) {
        *out = std::string_view(o.via.str.ptr, o.via.str.size);
        return true;
    }
    if (o.type == MSGPACK_OBJECT_BIN) {
        *out = std::string_view(o.via.bin.ptr, o.via.bin.size);
        return true;
    }
    return false;
}

bool key_is(const msgpack_object &o, const char *key) {
    std::string_view v;
    return as_bytes(o, &v) && v == key;
}

const msgpack_object *map_find(const msgpack_object &map, const char *key) {
    if (map.type != MSGPACK_OBJECT_MAP)
        return nullptr;
    for (uint32_t i = 0; i < map.via.map.size; ++i)
        if (key_is(map.via.map.ptr[i].key, key))
            return &map.via.map.ptr[i].val;
    return nullptr;
}

}  // namespace fwd
