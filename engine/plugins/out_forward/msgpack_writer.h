// MessagePack encoding into a growing string, through the MessagePack library's packer.
#pragma once

#include <msgpack.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace fwd {

class MsgpackWriter {
public:
    MsgpackWriter() { msgpack_packer_init(&pk_, &out_, append); }
    // The packer points at out_: neither may move.
    MsgpackWriter(const MsgpackWriter &) = delete;
    MsgpackWriter &operator=(const MsgpackWriter &) = delete;
    void clear() { out_.clear(); }
    const std::string &data() const { return out_; }
    std::string &data() { return out_; }

    void array(uint32_t n) { msgpack_pack_array(&pk_, n); }
    void map(uint32_t n) { msgpack_pack_map(&pk_, n); }
    void str(std::string_view s) {
        msgpack_pack_str(&pk_, s.size());
        msgpack_pack_str_body(&pk_, s.data(), s.size());
    }
    void bin_header(size_t n) { msgpack_pack_bin(&pk_, n); }
    void uint(uint64_t v) { msgpack_pack_uint64(&pk_, v); }
    void integer(int64_t v) { msgpack_pack_int64(&pk_, v); }
    // EventTime: ext type 0 with big-endian seconds and nanoseconds.
    void event_time(uint32_t sec, uint32_t nsec) {
        char body[8] = {char(sec >> 24), char(sec >> 16), char(sec >> 8), char(sec),
                        char(nsec >> 24), char(nsec >> 16), char(nsec >> 8), char(nsec)};
        msgpack_pack_ext(&pk_, 8, 0);
        msgpack_pack_ext_body(&pk_, body, 8);
    }
    void raw(const void *p, size_t n) { out_.append(static_cast<const char *>(p), n); }

    // The shortest MessagePack integer for `v` at out[*len] (at most 9 bytes).
    static void put_int(uint8_t *out, size_t *len, int64_t v) {
        auto put_be = [&](uint8_t tag, uint64_t x, int bytes) {
            out[(*len)++] = tag;
            for (int i = bytes - 1; i >= 0; --i)
                out[(*len)++] = static_cast<uint8_t>(x >> (8 * i));
        };
        if (v >= 0 && v <= 0x7f)
            out[(*len)++] = static_cast<uint8_t>(v);
        else if (v >= 0)
            v <= 0xff ? put_be(0xcc, uint64_t(v), 1)
                      : v <= 0xffff ? put_be(0xcd, uint64_t(v), 2)
                                    : v <= 0xffffffffll ? put_be(0xce, uint64_t(v), 4) : put_be(0xcf, uint64_t(v), 8);
        else if (v >= -32)
            out[(*len)++] = static_cast<uint8_t>(v);
        else
            v >= -128 ? put_be(0xd0, uint64_t(v), 1)
                      : v >= -32768 ? put_be(0xd1, uint64_t(v), 2)
                                    : v >= INT32_MIN ? put_be(0xd2, uint64_t(v), 4) : put_be(0xd3, uint64_t(v), 8);
    }

private:
    static int append(void *data, const char *buf, size_t len) {
        static_cast<std::string *>(data)->append(buf, len);
        return 0;
    }
    std::string out_;
    msgpack_packer pk_;
};

}  // namespace fwd
