// Output "forward": sends each chunk to a forward-protocol receiver (protocol v1) over one
// persistent TCP connection, optionally with TLS, a shared-key handshake, acks and gzip.
// A failure closes the connection and gives the chunk back to the engine to retry; the
// next flush connects anew.
#include <memory>

#include "engine/output_api.h"
#include "engine/plugins/out_forward/forward_ack.h"
#include "engine/plugins/out_forward/forward_config.h"
#include "engine/plugins/out_forward/forward_conn.h"
#include "engine/plugins/out_forward/forward_encode.h"
#include "engine/plugins/out_forward/forward_handshake.h"
#include "engine/plugins/out_forward/forward_reply.h"

namespace {

using engine::FlushResult;
using engine::LogLevel;
using namespace fwd;

struct ForwardOutput {
    ForwardConfig config;
    TlsContext tls;
    Connection conn;
    ReplyReader reader;
    MessageEncoder encoder;
};

// Connects, and runs TLS and the shared-key handshake, all within Connect_Timeout.
bool connect_output(engine::Instance *ins, ForwardOutput *out) {
    const ForwardConfig &c = out->config;
    Deadline deadline = after_seconds(c.connect_timeout_s);
    std::string error;
    out->reader.reset();
    if (!out->conn.open(c, c.tls ? out->tls.get() : nullptr, ins->abort_fd, deadline, &error)) {
        engine::log(LogLevel::Warn, "output %s: cannot connect to %s: %s", ins->name.c_str(), c.peer().c_str(),
                    error.c_str());
        return false;
    }
    if (!c.shared_key.empty()) {
        HandshakeResult r = shared_key_handshake(out->conn, out->reader, c, deadline, &error);
        if (r != HandshakeResult::Ok) {
            out->conn.close();
            engine::log(r == HandshakeResult::Refused ? LogLevel::Error : LogLevel::Warn,
                        "output %s: handshake with %s failed: %s", ins->name.c_str(), c.peer().c_str(),
                        error.c_str());
            return false;
        }
    }
    engine::log(LogLevel::Debug, "output %s: connected to %s", ins->name.c_str(), c.peer().c_str());
    return true;
}

int forward_init(engine::Instance *ins) {
    auto out = std::make_unique<ForwardOutput>();
    std::string error;
    if (!load_forward_config(*ins, &out->config, &error) || (out->config.tls && !out->tls.init(out->config, &error))) {
        engine::log(LogLevel::Error, "output %s: %s", ins->name.c_str(), error.c_str());
        return -1;
    }
    const ForwardConfig &c = out->config;
    engine::log(LogLevel::Info, "output %s: forwarding to %s%s%s%s%s", ins->name.c_str(), c.peer().c_str(),
                c.tls ? " with TLS" : "", c.shared_key.empty() ? "" : ", shared key",
                c.require_ack ? ", acks" : "", c.compress_gzip ? ", gzip" : "");
    ins->context = out.release();
    return 0;
}

FlushResult forward_flush(engine::Instance *ins, const engine::Chunk &chunk) {
    auto *out = static_cast<ForwardOutput *>(ins->context);
    const ForwardConfig &c = out->config;
    std::string chunk_id, error;
    if (c.require_ack) {
        chunk_id = new_chunk_id();
        if (chunk_id.empty()) {
            engine::log(LogLevel::Error, "output %s: no random bytes for a chunk id", ins->name.c_str());
            return FlushResult::Retry;
        }
    }
    if (!out->encoder.encode(chunk, c, chunk_id, &error)) {
        engine::log(LogLevel::Error, "output %s: chunk of tag '%.*s' cannot be sent: %s", ins->name.c_str(),
                    static_cast<int>(chunk.tag_len), chunk.tag, error.c_str());
        return FlushResult::Error;
    }
    Slice parts[3];
    size_t count = out->encoder.slices(parts);

    for (int attempt = 0;; ++attempt) {
        bool reused = out->conn.is_open();
        if (reused && out->conn.peer_gone()) {
            engine::log(LogLevel::Debug, "output %s: %s hung up; connecting again", ins->name.c_str(),
                        c.peer().c_str());
            out->conn.close();
            reused = false;
        }
        if (!out->conn.is_open() && !connect_output(ins, out))
            return FlushResult::Retry;
        Io io = out->conn.write_all(parts, count, std::chrono::seconds(c.ack_timeout_s), &error);
        if (io != Io::Ok)
            error = "write: " + error;
        else if (c.require_ack)
            io = wait_for_ack(out->conn, out->reader, chunk_id, after_seconds(c.ack_timeout_s), &error);
        if (io == Io::Ok)
            return FlushResult::Ok;
        out->conn.close();
        // A connection that had served earlier chunks may have died in between without
        // showing it; one fresh connection gets the same message at once.
        if (io == Io::Closed && reused && attempt == 0) {
            engine::log(LogLevel::Debug, "output %s: a used connection failed (%s); trying a new one",
                        ins->name.c_str(), error.c_str());
            continue;
        }
        engine::log(LogLevel::Warn, "output %s: chunk of tag '%.*s' (%zu records) not delivered to %s: %s",
                    ins->name.c_str(), static_cast<int>(chunk.tag_len), chunk.tag, out->encoder.records(),
                    c.peer().c_str(), error.c_str());
        return FlushResult::Retry;
    }
}

void forward_exit(engine::Instance *ins) {
    delete static_cast<ForwardOutput *>(ins->context);
    ins->context = nullptr;
}

}  // namespace

extern const engine::OutputPlugin out_forward_plugin = {
    "forward",           fwd::kForwardProperties, "sends records to a forward-protocol receiver",
    forward_init,        forward_flush,           forward_exit,
    fwd::check_forward_property,
};
