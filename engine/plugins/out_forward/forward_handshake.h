// The shared-key handshake that opens a connection when "Shared_Key" is set:
//   receiver: ["HELO", {"nonce": n, "auth": auth_salt, "keepalive": bool}]
//   we:       ["PING", self_hostname, salt, hex(sha512(salt + self_hostname + n + key)),
//              username, hex(sha512(auth_salt + username + password)) or ""]
//   receiver: ["PONG", ok, reason, server_hostname, hex(sha512(salt + server_hostname + n + key))]
// The PONG digest proves that the receiver knows the key too.
#pragma once

#include <string>

#include "engine/plugins/out_forward/forward_config.h"
#include "engine/plugins/out_forward/forward_conn.h"
#include "engine/plugins/out_forward/forward_reply.h"

namespace fwd {

enum class HandshakeResult {
    Ok,
    Refused,  // the receiver said no, or its PONG did not prove the key: a setting is wrong
    Broken,   // the connection failed, timed out, or the receiver sent something malformed
};

// Runs the handshake on an open connection before `deadline`; *error says why it failed.
HandshakeResult shared_key_handshake(Connection &conn, ReplyReader &reader, const ForwardConfig &config,
                                     Deadline deadline, std::string *error);

}  // namespace fwd
