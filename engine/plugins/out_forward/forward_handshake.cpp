#include "engine/plugins/out_forward/forward_handshake.h"

#include "engine/plugins/out_forward/forward_crypto.h"
#include "engine/plugins/out_forward/msgpack_writer.h"

namespace fwd {

namespace {

bool is_message(const msgpack_object &o, const char *name, uint32_t size) {
    return o.type == MSGPACK_OBJECT_ARRAY && o.via.array.size == size && key_is(o.via.array.ptr[0], name);
}

}  // namespace

HandshakeResult shared_key_handshake(Connection &conn, ReplyReader &reader, const ForwardConfig &config,
                                     Deadline deadline, std::string *error) {
    const msgpack_object *helo = nullptr;
    std::string why;
    Io io = reader.read(conn, deadline, &helo, &why);
    if (io != Io::Ok) {
        *error = "no HELO: " + why;
        return HandshakeResult::Broken;
    }
    std::string_view nonce, auth_salt;
    const msgpack_object *options = is_message(*helo, "HELO", 2) ? &helo->via.array.ptr[1] : nullptr;
    const msgpack_object *nonce_obj = options ? map_find(*options, "nonce") : nullptr;
    const msgpack_object *auth_obj = options ? map_find(*options, "auth") : nullptr;
    if (!nonce_obj || !as_bytes(*nonce_obj, &nonce) || (auth_obj && !as_bytes(*auth_obj, &auth_salt))) {
        *error = "the receiver's first message is not a HELO";
        return HandshakeResult::Broken;
    }
    // The HELO's views point into the reader; keep copies before the next read.
    std::string nonce_copy(nonce), auth_copy(auth_salt);

    uint8_t salt_bytes[16];
    if (!random_bytes(salt_bytes, sizeof salt_bytes)) {
        *error = "no random bytes for the PING salt";
        return HandshakeResult::Broken;
    }
    // A hexadecimal salt travels as a plain string that every receiver reads unchanged.
    std::string salt = hex(salt_bytes, sizeof salt_bytes);
    std::string digest = sha512_hex({salt, config.self_hostname, nonce_copy, config.shared_key});
    std::string password_digest;
    if (!config.username.empty())
        password_digest = sha512_hex({auth_copy, config.username, config.password});

    MsgpackWriter ping;
    ping.array(6);
    ping.str("PING");
    ping.str(config.self_hostname);
    ping.str(salt);
    ping.str(digest);
    ping.str(config.username);
    ping.str(password_digest);
    Slice slice{ping.data().data(), ping.data().size()};
    io = conn.write_all(&slice, 1, deadline - Clock::now(), &why);
    if (io != Io::Ok) {
        *error = "cannot send PING: " + why;
        return HandshakeResult::Broken;
    }

    const msgpack_object *pong = nullptr;
    io = reader.read(conn, deadline, &pong, &why);
    if (io != Io::Ok) {
        *error = "no PONG: " + why;
        return HandshakeResult::Broken;
    }
    if (!is_message(*pong, "PONG", 5) || pong->via.array.ptr[1].type != MSGPACK_OBJECT_BOOLEAN) {
        *error = "the receiver's answer to PING is not a PONG";
        return HandshakeResult::Broken;
    }
    const msgpack_object *f = pong->via.array.ptr;
    std::string_view reason, server_hostname, server_digest;
    as_bytes(f[2], &reason);
    if (!f[1].via.boolean) {
        *error = "authentication refused by the receiver: " + std::string(reason.substr(0, 200));
        return HandshakeResult::Refused;
    }
    if (!as_bytes(f[3], &server_hostname) || !as_bytes(f[4], &server_digest)) {
        *error = "the receiver's PONG is malformed";
        return HandshakeResult::Broken;
    }
    if (server_hostname == config.self_hostname) {
        *error = "the receiver has our own host name '" + config.self_hostname + "'";
        return HandshakeResult::Refused;
    }
    if (server_digest != sha512_hex({salt, server_hostname, nonce_copy, config.shared_key})) {
        *error = "the receiver's PONG does not prove the shared key";
        return HandshakeResult::Refused;
    }
    return HandshakeResult::Ok;
}

}  // namespace fwd
