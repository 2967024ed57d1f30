// Asks the linked engine whether it carries an output plugin (builds may leave plugin
// folders out).
#pragma once

#include "pv_engine.h"

namespace forwarder_test {

inline bool engine_has_output(const char *name) {
    flb_ctx_t *engine = flb_create();
    bool found = engine != nullptr && flb_output(engine, name, nullptr) >= 0;
    if (engine != nullptr)
        flb_destroy(engine);
    return found;
}

#define SKIP_WITHOUT_OUTPUT(name)                                                                  \
    do {                                                                                           \
        if (!forwarder_test::engine_has_output(name))                                              \
            GTEST_SKIP() << "this engine build has no '" << (name) << "' output";                  \
    } while (0)

} // namespace forwarder_test
