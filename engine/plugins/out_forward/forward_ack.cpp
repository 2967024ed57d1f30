#include "engine/plugins/out_forward/forward_ack.h"

#include "engine/plugins/out_forward/forward_crypto.h"

namespace fwd {

std::string new_chunk_id() {
    uint8_t raw[16];
    if (!random_bytes(raw, sizeof raw))
        return std::string();
    return base64(raw, sizeof raw);
}

Io wait_for_ack(Connection &conn, ReplyReader &reader, const std::string &chunk_id, Deadline deadline,
                std::string *error) {
    const msgpack_object *reply = nullptr;
    std::string why;
    Io io = reader.read(conn, deadline, &reply, &why);
    if (io != Io::Ok) {
        *error = "no ack: " + why;
        return io;
    }
    const msgpack_object *ack = map_find(*reply, "ack");
    std::string_view id;
    if (!ack || !as_bytes(*ack, &id)) {
        *error = "the receiver's reply is not an ack";
        return Io::Failed;
    }
    if (id != chunk_id) {
        *error = "the receiver acknowledged another chunk";
        return Io::Failed;
    }
    return Io::Ok;
}

}  // namespace fwd
