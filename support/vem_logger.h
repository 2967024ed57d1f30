/* Logger sinks besides standard error, closing a sink, handing the logger state from
 * one copy of the support library to another, and a hex dump at debug level. */
#ifndef VEM_LOGGER_H
#define VEM_LOGGER_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "support/vem_log.h"

VEM_BEGIN_DECLS

/* The logger state of one copy, as another copy adopts it. The record holds the
 * filling copy's stream and mutex by address; the adopting copy never closes or
 * destroys them. Shared between separately built copies: the layout is fixed. */
typedef struct vem_logger_ctx {
    int32_t kind;           /* vem_logger_kind_t */
    FILE *file;             /* stream of the stderr and file kinds, else NULL */
    vem_log_func_t func;    /* log function of the function kind, else NULL */
    int32_t level;          /* vem_log_level */
    pthread_mutex_t *mutex; /* the mutex that serialises stream lines, or NULL */
} vem_logger_ctx_t;

VEM_STATIC_ASSERT(offsetof(vem_logger_ctx_t, kind) == 0, "vem_logger_ctx_t.kind");
VEM_STATIC_ASSERT(offsetof(vem_logger_ctx_t, file) == 8, "vem_logger_ctx_t.file");
VEM_STATIC_ASSERT(offsetof(vem_logger_ctx_t, func) == 16, "vem_logger_ctx_t.func");
VEM_STATIC_ASSERT(offsetof(vem_logger_ctx_t, level) == 24, "vem_logger_ctx_t.level");
VEM_STATIC_ASSERT(offsetof(vem_logger_ctx_t, mutex) == 32, "vem_logger_ctx_t.mutex");
VEM_STATIC_ASSERT(sizeof(vem_logger_ctx_t) == 40, "vem_logger_ctx_t size");

/* Syslog with LOG_PID | LOG_CONS, facility LOG_DAEMON; ident is not copied.
 * False when refused (adopted state). */
VEM_API bool vem_init_syslog_logger(const char *ident, int level);
/* Opens path with mode "w" after closing the current sink. False when refused or when
 * the file cannot be opened (standard error is then selected with the new level). */
VEM_API bool vem_init_file_logger(const char *path, int level);
/* Closes a syslog or file sink and selects standard error with the current level. */
VEM_API void vem_close_logger(void);
/* A new record of this copy's state, freed with vem_destroy_logger_ctx; NULL when
 * memory runs out. */
VEM_API vem_logger_ctx_t *vem_get_logger_ctx(void);
/* Adopts the state of another copy. False only for a NULL record. */
VEM_API bool _vem_register_logger(const vem_logger_ctx_t *ctx);
/* Frees a record of vem_get_logger_ctx; NULL is allowed. */
VEM_API void vem_destroy_logger_ctx(vem_logger_ctx_t *ctx);
/* Logs the bytes at debug level, 16 to a line, hex cells and an ASCII column. */
VEM_API void log_hex(const void *data, uint64_t length);

VEM_END_DECLS

#endif
