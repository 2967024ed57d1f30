// The plugins compiled into this library, found by name (case-insensitive).
#pragma once

#include "engine/input_api.h"
#include "engine/output_api.h"

namespace engine {

const InputPlugin *find_input_plugin(const char *name);
const OutputPlugin *find_output_plugin(const char *name);

} // namespace engine
