// Acknowledgements: with "Require_ack_response" every message carries the option
// "chunk", a fresh id, and counts as delivered only once the receiver answers
// {"ack": id}.
#pragma once

#include <string>

#include "engine/plugins/out_forward/forward_conn.h"
#include "engine/plugins/out_forward/forward_reply.h"

namespace fwd {

// Base64 of 16 random bytes; empty when the generator has no entropy.
std::string new_chunk_id();

// Waits before `deadline` for the ack of `chunk_id`. Anything else (another id, a reply
// that is not an ack, a malformed one) fails with *error set.
Io wait_for_ack(Connection &conn, ReplyReader &reader, const std::string &chunk_id, Deadline deadline,
                std::string *error);

}  // namespace fwd
