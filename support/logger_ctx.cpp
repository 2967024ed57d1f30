// Handing the logger state from one copy of the library to another.
#include <stdlib.h>

#include "support/log_state.h"
#include "support/vem_logger.h"

namespace {

bool has_stream(int32_t kind) {
    return kind == VEM_LOGGER_STDERR || kind == VEM_LOGGER_FILE;
}

} // namespace

extern "C" {

VEM_API vem_logger_ctx_t *vem_get_logger_ctx(void) {
    auto *ctx = static_cast<vem_logger_ctx_t *>(calloc(1, sizeof(vem_logger_ctx_t)));
    if (ctx == nullptr)
        return nullptr;
    ctx->kind = logger_kind;
    if (logger_kind == VEM_LOGGER_FUNC)
        ctx->func = logger_func;
    if (has_stream(logger_kind))
        ctx->file = logger_file;
    ctx->level = vem_log_level;
    ctx->mutex = logger_mutex;
    return ctx;
}

VEM_API bool _vem_register_logger(const vem_logger_ctx_t *ctx) {
    if (ctx == nullptr)
        return false;
    if (ctx->kind == logger_kind && ctx->level == vem_log_level && ctx->mutex == logger_mutex &&
        ctx->func == logger_func && ctx->file == logger_file)
        return true;
    // Only the fields that the kind names are taken; a log function of this copy stays
    // in force after a stream state is adopted. Syslog's connection is the process's.
    logger_mutex = ctx->mutex;
    is_registered = true;
    vem_log_level = ctx->level;
    logger_kind = static_cast<vem_logger_kind_t>(ctx->kind);
    if (ctx->kind == VEM_LOGGER_FUNC)
        logger_func = ctx->func;
    else if (has_stream(ctx->kind))
        logger_file = ctx->file;
    return true;
}

VEM_API void vem_destroy_logger_ctx(vem_logger_ctx_t *ctx) {
    free(ctx);
}

} // extern "C"
