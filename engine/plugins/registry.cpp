// The plugin registry: one line per plugin. The plugin in folder <kind>_<name>/ defines,
// at global scope, `extern const engine::InputPlugin in_<name>_plugin = {...};` or
// `extern const engine::OutputPlugin out_<name>_plugin = {...};`. A listed plugin whose
// folder has no sources in this build is absent (weak reference) rather than a link error.
#include <strings.h>

#include "engine/core/plugin_registry.h"

#define PV_PLUGINS(INPUT, OUTPUT)                                                                  \
    INPUT(in_raw_msgpack_plugin)                                                                   \
    OUTPUT(out_stdout_plugin)                                                                      \
    OUTPUT(out_null_plugin)                                                                        \
    OUTPUT(out_forward_plugin)

// Plugins of the test build of the engine only (pvengine_testing), never shipped.
#ifdef PV_ENGINE_TESTING
#define PV_TEST_PLUGINS(INPUT, OUTPUT) OUTPUT(out_flaky_plugin)
#else
#define PV_TEST_PLUGINS(INPUT, OUTPUT)
#endif

#define PV_DECLARE_INPUT(sym)                                                                      \
    extern const engine::InputPlugin sym __attribute__((weak, visibility("hidden")));
#define PV_DECLARE_OUTPUT(sym)                                                                     \
    extern const engine::OutputPlugin sym __attribute__((weak, visibility("hidden")));
#define PV_ADDRESS(sym) &sym,
#define PV_NOTHING(sym)

PV_PLUGINS(PV_DECLARE_INPUT, PV_DECLARE_OUTPUT)
PV_TEST_PLUGINS(PV_DECLARE_INPUT, PV_DECLARE_OUTPUT)

namespace engine {

static const InputPlugin *const input_plugins[] = {
    PV_PLUGINS(PV_ADDRESS, PV_NOTHING) PV_TEST_PLUGINS(PV_ADDRESS, PV_NOTHING) nullptr};
static const OutputPlugin *const output_plugins[] = {
    PV_PLUGINS(PV_NOTHING, PV_ADDRESS) PV_TEST_PLUGINS(PV_NOTHING, PV_ADDRESS) nullptr};

template <typename Plugin, size_t N>
static const Plugin *find(const Plugin *const (&list)[N], const char *name) {
    for (size_t i = 0; i + 1 < N; ++i)
        if (list[i] && list[i]->name && strcasecmp(list[i]->name, name) == 0)
            return list[i];
    return nullptr;
}

const InputPlugin *find_input_plugin(const char *name) {
    return find(input_plugins, name);
}
const OutputPlugin *find_output_plugin(const char *name) {
    return find(output_plugins, name);
}

} // namespace engine
