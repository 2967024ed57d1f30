#include "engine/plugins/out_stdout/json_lines.h"

#include <msgpack.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace engine {

namespace {

void append_base64(std::string &out, const unsigned char *p, size_t n) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out += '"';
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        unsigned v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (n - i == 1) {
        unsigned v = p[i] << 16;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (n - i == 2) {
        unsigned v = (p[i] << 16) | (p[i + 1] << 8);
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += '=';
    }
    out += '"';
}

// Length of the well-formed UTF-8 sequence at p (at most n bytes), or 0.
size_t utf8_length(const unsigned char *p, size_t n) {
    unsigned char b = p[0];
    size_t len;
    unsigned min;
    unsigned cp;
    if (b < 0x80)
        return 1;
    if ((b & 0xe0) == 0xc0) {
        len = 2, min = 0x80, cp = b & 0x1f;
    } else if ((b & 0xf0) == 0xe0) {
        len = 3, min = 0x800, cp = b & 0x0f;
    } else if ((b & 0xf8) == 0xf0) {
        len = 4, min = 0x10000, cp = b & 0x07;
    } else {
        return 0;
    }
    if (len > n)
        return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xc0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3f);
    }
    if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
        return 0;
    return len;
}

void append_string(std::string &out, const char *s, size_t n) {
    const auto *p = reinterpret_cast<const unsigned char *>(s);
    out += '"';
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c < 0x20) {
            char esc[8];
            const char *named = c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
            if (!named)
                snprintf(esc, sizeof esc, "\\u%04x", c);
            out += named ? named : esc;
            ++i;
        } else {
            size_t len = utf8_length(p + i, n - i);
            if (len == 0) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(s + i, len);
                i += len;
            }
        }
    }
    out += '"';
}

void append_value(std::string &out, const msgpack_object &o);

void append_key(std::string &out, const msgpack_object &k) {
    if (k.type == MSGPACK_OBJECT_STR) {
        append_string(out, k.via.str.ptr, k.via.str.size);
        return;
    }
    std::string text;
    append_value(text, k);
    append_string(out, text.data(), text.size());
}

void append_value(std::string &out, const msgpack_object &o) {
    char num[64];
    switch (o.type) {
    case MSGPACK_OBJECT_NIL:
        out += "null";
        break;
    case MSGPACK_OBJECT_BOOLEAN:
        out += o.via.boolean ? "true" : "false";
        break;
    case MSGPACK_OBJECT_POSITIVE_INTEGER:
        out.append(num, std::to_chars(num, num + sizeof num, o.via.u64).ptr);
        break;
    case MSGPACK_OBJECT_NEGATIVE_INTEGER:
        out.append(num, std::to_chars(num, num + sizeof num, o.via.i64).ptr);
        break;
    case MSGPACK_OBJECT_FLOAT32:
    case MSGPACK_OBJECT_FLOAT64:
        if (std::isfinite(o.via.f64))
            out.append(num, std::to_chars(num, num + sizeof num, o.via.f64).ptr);
        else
            out += "null";
        break;
    case MSGPACK_OBJECT_STR:
        append_string(out, o.via.str.ptr, o.via.str.size);
        break;
    case MSGPACK_OBJECT_BIN:
        append_base64(out, reinterpret_cast<const unsigned char *>(o.via.bin.ptr), o.via.bin.size);
        break;
    case MSGPACK_OBJECT_EXT:
        out += "{\"ext\":";
        out += std::to_string(o.via.ext.type);
        out += ",\"data\":";
        append_base64(out, reinterpret_cast<const unsigned char *>(o.via.ext.ptr), o.via.ext.size);
        out += '}';
        break;
    case MSGPACK_OBJECT_ARRAY:
        out += '[';
        for (uint32_t i = 0; i < o.via.array.size; ++i) {
            if (i)
                out += ',';
            append_value(out, o.via.array.ptr[i]);
        }
        out += ']';
        break;
    case MSGPACK_OBJECT_MAP:
        out += '{';
        for (uint32_t i = 0; i < o.via.map.size; ++i) {
            if (i)
                out += ',';
            append_key(out, o.via.map.ptr[i].key);
            out += ':';
            append_value(out, o.via.map.ptr[i].val);
        }
        out += '}';
        break;
    }
}

} // namespace

bool render_json_lines(const Chunk &chunk, std::string &out) {
    msgpack_zone zone;
    if (!msgpack_zone_init(&zone, 16384))
        return false;
    bool ok = true;
    size_t at = 0;
    while (ok && at < chunk.size) {
        msgpack_object ev;
        msgpack_unpack_return ret = msgpack_unpack(chunk.data, chunk.size, &at, &zone, &ev);
        ok = (ret == MSGPACK_UNPACK_SUCCESS || ret == MSGPACK_UNPACK_EXTRA_BYTES) &&
             ev.type == MSGPACK_OBJECT_ARRAY && ev.via.array.size == 2 &&
             ev.via.array.ptr[0].type == MSGPACK_OBJECT_ARRAY &&
             ev.via.array.ptr[0].via.array.size == 2;
        if (!ok)
            break;
        const msgpack_object &t = ev.via.array.ptr[0].via.array.ptr[0];
        uint32_t sec = 0, nsec = 0;
        if (t.type == MSGPACK_OBJECT_EXT && t.via.ext.size == 8) {
            const auto *p = reinterpret_cast<const unsigned char *>(t.via.ext.ptr);
            sec = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
            nsec = (uint32_t{p[4]} << 24) | (uint32_t{p[5]} << 16) | (uint32_t{p[6]} << 8) | p[7];
        }
        char time_text[32];
        snprintf(time_text, sizeof time_text, "%u.%09u", sec, nsec);
        out += "{\"tag\":";
        append_string(out, chunk.tag, chunk.tag_len);
        out += ",\"time\":";
        out += time_text;
        out += ",\"record\":";
        append_value(out, ev.via.array.ptr[1]);
        out += "}\n";
        msgpack_zone_clear(&zone);
    }
    msgpack_zone_destroy(&zone);
    return ok;
}

} // namespace engine
