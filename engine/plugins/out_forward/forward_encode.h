// Turns an engine chunk into one forward-protocol message in PackedForward mode:
//   [tag, bin(entries), option]   with entries = [time, record] [time, record] ...
// (CompressedPackedForward when compressing: the entries gzip-compressed and the option
// "compressed": "gzip"). The option map {"size": records, "chunk": id, ...} is sent
// when Send_options is on or an ack or compression needs it.
#pragma once

#include <zlib.h>

#include <string>

#include "engine/output_api.h"
#include "engine/plugins/out_forward/forward_config.h"
#include "engine/plugins/out_forward/forward_conn.h"
#include "engine/plugins/out_forward/msgpack_writer.h"

namespace fwd {

class MessageEncoder {
public:
    MessageEncoder() = default;
    MessageEncoder(const MessageEncoder &) = delete;
    MessageEncoder &operator=(const MessageEncoder &) = delete;
    ~MessageEncoder();

    // Encodes `chunk`; `chunk_id` empty means no ack is asked. False, with *error, when
    // the chunk is not a sequence of events [[time, metadata], record] (or [time, record]).
    bool encode(const engine::Chunk &chunk, const ForwardConfig &config, const std::string &chunk_id,
                std::string *error);
    // The message as consecutive byte ranges, valid until the next encode.
    size_t slices(Slice out[3]) const;
    size_t records() const { return records_; }
    size_t bytes() const;

private:
    bool convert_entries(const engine::Chunk &chunk, bool time_as_integer, std::string *error);
    bool gzip_entries(std::string *error);

    MsgpackWriter head_;     // array header, tag, bin header
    MsgpackWriter entries_;  // the converted entries
    std::string compressed_;
    MsgpackWriter tail_;     // the option map
    bool use_compressed_ = false;
    size_t records_ = 0;
    z_stream zs_{};
    bool zs_ready_ = false;
};

}  // namespace fwd
