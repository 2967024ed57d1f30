// Output "stdout": every record of a chunk as one JSON line on standard output, written
// and flushed once per chunk.
#include <cstdio>
#include <string>

#include "engine/output_api.h"
#include "engine/plugins/out_stdout/json_lines.h"

namespace {

using namespace engine;

const PropertyDef properties[] = {{nullptr, PropType::String, nullptr, nullptr}};

FlushResult stdout_flush(Instance *ins, const Chunk &chunk) {
    std::string text;
    if (!render_json_lines(chunk, text))
        log(LogLevel::Error, "output %s: chunk of tag '%.*s' is not in the engine's layout",
            ins->name.c_str(), static_cast<int>(chunk.tag_len), chunk.tag);
    if (fwrite(text.data(), 1, text.size(), stdout) != text.size() || fflush(stdout) != 0)
        return FlushResult::Retry;
    return FlushResult::Ok;
}

} // namespace

extern const engine::OutputPlugin out_stdout_plugin = {
    "stdout", properties,   "records as JSON lines on standard output",
    nullptr,  stdout_flush, nullptr,
};
