// Checking property pairs against the tables of the service, the plugins and the
// properties common to every input or output.
#pragma once

#include <string>

#include "engine/output_api.h"

namespace engine {

const PropertyDef *service_properties();

// Finds key in the tables (the first one that has it wins) and checks value against its
// type and the engine's own rules for the well-known keys. On failure returns false and
// says why in *why ("unknown property", "invalid value").
bool check_property(const PropertyDef *const *tables, int count, const char *key, const char *value,
                    std::string *why);

// Log_Level names: "off" 0, "error" 1, "warn" 2, "info" 3, "debug" 4; -1 for others.
int parse_log_level(const char *value);

} // namespace engine
