// The library interface: each call finds the engine, delegates, and maps the outcome to
// the C result. No exception crosses this boundary.
#include <cstdarg>
#include <new>

#include "engine/core/engine.h"
#include "engine/include/pv_engine.h"

struct flb_lib_ctx {
    engine::Engine engine;
};

namespace {

using engine::LogLevel;

// Applies "key, value, ..., NULL" pairs with set; stops at the first failure.
template <typename Set> int apply_pairs(const char *call, va_list ap, Set set) {
    for (;;) {
        const char *key = va_arg(ap, const char *);
        if (!key)
            return 0;
        const char *value = va_arg(ap, const char *);
        if (!value) {
            engine::log(LogLevel::Error, "%s: property '%s' has no value", call, key);
            return -1;
        }
        if (set(key, value) != 0)
            return -1;
    }
}

template <typename F> int guarded(const char *call, F body) {
    try {
        return body();
    } catch (const std::exception &e) {
        engine::log(LogLevel::Error, "%s: %s", call, e.what());
    } catch (...) {
        engine::log(LogLevel::Error, "%s: unexpected failure", call);
    }
    return -1;
}

} // namespace

// Only these names leave the library (with the version script); everything else is hidden.
#define PV_EXPORT __attribute__((visibility("default")))

extern "C" {

PV_EXPORT flb_ctx_t *flb_create(void) {
    try {
        engine::log_threshold().store(static_cast<int>(LogLevel::Info), std::memory_order_relaxed);
        auto *ctx = new (std::nothrow) flb_lib_ctx;
        if (ctx && !ctx->engine.valid()) {
            engine::log(LogLevel::Error, "flb_create: cannot create the event loop descriptors");
            delete ctx;
            return nullptr;
        }
        return ctx;
    } catch (...) {
        return nullptr;
    }
}

PV_EXPORT int flb_service_set(flb_ctx_t *ctx, ...) {
    if (!ctx)
        return -1;
    va_list ap;
    va_start(ap, ctx);
    int rc = guarded("flb_service_set", [&] {
        return apply_pairs("flb_service_set", ap, [&](const char *k, const char *v) {
            return ctx->engine.service_set(k, v);
        });
    });
    va_end(ap);
    return rc;
}

PV_EXPORT int flb_input(flb_ctx_t *ctx, const char *input, void *data) {
    if (!ctx || !input)
        return -1;
    return guarded("flb_input", [&] { return ctx->engine.input(input, data); });
}

PV_EXPORT int flb_input_set(flb_ctx_t *ctx, int ffd, ...) {
    if (!ctx)
        return -1;
    va_list ap;
    va_start(ap, ffd);
    int rc = guarded("flb_input_set", [&] {
        return apply_pairs("flb_input_set", ap, [&](const char *k, const char *v) {
            return ctx->engine.input_set(ffd, k, v);
        });
    });
    va_end(ap);
    return rc;
}

PV_EXPORT int flb_output(flb_ctx_t *ctx, const char *output, struct flb_lib_out_cb *cb) {
    (void)cb; // only the "lib" output of other builds reads it; none here does
    if (!ctx || !output)
        return -1;
    return guarded("flb_output", [&] { return ctx->engine.output(output); });
}

PV_EXPORT int flb_output_set(flb_ctx_t *ctx, int ffd, ...) {
    if (!ctx)
        return -1;
    va_list ap;
    va_start(ap, ffd);
    int rc = guarded("flb_output_set", [&] {
        return apply_pairs("flb_output_set", ap, [&](const char *k, const char *v) {
            return ctx->engine.output_set(ffd, k, v);
        });
    });
    va_end(ap);
    return rc;
}

PV_EXPORT int flb_start(flb_ctx_t *ctx) {
    if (!ctx)
        return -1;
    return guarded("flb_start", [&] { return ctx->engine.start(); });
}

PV_EXPORT int flb_stop(flb_ctx_t *ctx) {
    if (!ctx)
        return -1;
    return guarded("flb_stop", [&] { return ctx->engine.stop(); });
}

PV_EXPORT void flb_destroy(flb_ctx_t *ctx) {
    try {
        delete ctx;
    } catch (...) {
    }
}

} // extern "C"
