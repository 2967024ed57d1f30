// Output "flaky", compiled only into the test build of the engine: fails every chunk
// while the file at Fail_While exists, else delivers it. Every attempt is appended to
// Out_File: "failed <records>" lines for failures, the records as JSON lines otherwise.
// With Init_Fails its init fails.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "engine/output_api.h"
#include "engine/plugins/out_stdout/json_lines.h"

namespace {

using namespace engine;

const PropertyDef properties[] = {
    {"Fail_While", PropType::String, nullptr, "flushes fail while this file exists"},
    {"Out_File", PropType::String, nullptr, "file that receives every attempt"},
    {"Init_Fails", PropType::Bool, "off", "init fails, and with it the engine start"},
    {nullptr, PropType::String, nullptr, nullptr},
};

void append(const char *path, const std::string &text) {
    if (!path)
        return;
    if (FILE *f = fopen(path, "a")) {
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
}

int flaky_init(Instance *ins) {
    return ins->get_bool("Init_Fails") ? -1 : 0;
}

FlushResult flaky_flush(Instance *ins, const Chunk &chunk) {
    const char *fail_while = ins->get("Fail_While");
    if (fail_while && access(fail_while, F_OK) == 0) {
        append(ins->get("Out_File"), "failed " + std::to_string(chunk.records) + "\n");
        return FlushResult::Retry;
    }
    std::string text;
    render_json_lines(chunk, text);
    append(ins->get("Out_File"), text);
    return FlushResult::Ok;
}

} // namespace

extern const engine::OutputPlugin out_flaky_plugin = {
    "flaky", properties, "fails on demand (tests only)", flaky_init, flaky_flush, nullptr,
};
