// Output "null": takes every chunk and drops it.
#include "engine/output_api.h"

namespace {

using namespace engine;

const PropertyDef properties[] = {{nullptr, PropType::String, nullptr, nullptr}};

FlushResult null_flush(Instance *, const Chunk &) {
    return FlushResult::Ok;
}

} // namespace

extern const engine::OutputPlugin out_null_plugin = {
    "null", properties, "drops every record", nullptr, null_flush, nullptr,
};
