// Reads the receiver's replies (HELO, PONG, acks) one MessagePack object at a time.
// Each object is measured by the bounded pre-scan before the MessagePack library
// decodes it, and no reply may exceed kMaxReplyBytes: a huge declared length or a deep
// nesting fails the read instead of making anything allocate.
#pragma once

#include <msgpack.h>

#include <string>
#include <string_view>
#include <vector>

#include "engine/plugins/out_forward/forward_conn.h"

namespace fwd {

constexpr size_t kMaxReplyBytes = 64 * 1024;

class ReplyReader {
public:
    ReplyReader();
    ~ReplyReader();
    ReplyReader(const ReplyReader &) = delete;
    ReplyReader &operator=(const ReplyReader &) = delete;

    // Forgets buffered bytes (a new connection starts clean).
    void reset() { have_ = 0; }
    // Reads one whole reply before `deadline`. On Ok, *out is valid until the next read.
    Io read(Connection &conn, Deadline deadline, const msgpack_object **out, std::string *error);

private:
    std::vector<uint8_t> buf_;
    size_t have_ = 0;
    std::vector<uint8_t> current_;  // bytes of the last reply; the decoded object points into them
    msgpack_unpacked unpacked_;
};

// Views of decoded values; false when the object is not of that kind.
bool as_bytes(const msgpack_object &o, std::string_view *out);  // str or bin
bool key_is(const msgpack_object &o, const char *key);
// The value for `key` in a map, or null.
const msgpack_object *map_find(const msgpack_object &map, const char *key);

}  // namespace fwd
