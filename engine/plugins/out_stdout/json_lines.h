// JSON lines of engine records: {"tag":...,"time":<seconds.nanoseconds>,"record":{...}}.
// Strings are written as valid UTF-8 JSON (bytes that are not UTF-8 become U+FFFD),
// binaries as base64 strings, extension values as {"ext":<type>,"data":<base64>},
// non-string map keys as the JSON text of the key, non-finite floats as null.
#pragma once

#include <string>

#include "engine/output_api.h"

namespace engine {

// Appends one line per record of chunk to out. False when the chunk is not in the
// engine's layout (nothing is appended for the offending record and those after it).
bool render_json_lines(const Chunk &chunk, std::string &out);

} // namespace engine
