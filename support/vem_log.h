/* Logging core: one process-wide level, a choice of sink, and the VEM_LOG protocol
 * that every log site follows. */
#ifndef VEM_LOG_H
#define VEM_LOG_H

#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>

#include "support/vem_export.h"

VEM_BEGIN_DECLS

/* Levels are syslog priorities. */
#define VEM_LOG_ERROR 3
#define VEM_LOG_WARNING 4
#define VEM_LOG_INFO 6
#define VEM_LOG_DEBUG 7

typedef enum vem_logger_kind {
    VEM_LOGGER_STDERR = 0,
    VEM_LOGGER_SYSLOG = 1,
    VEM_LOGGER_FILE = 2,
    VEM_LOGGER_FUNC = 3
} vem_logger_kind_t;
VEM_STATIC_ASSERT(sizeof(vem_logger_kind_t) == 4, "vem_logger_kind_t is int32");

typedef void (*vem_log_func_t)(int level, const char *format, ...);

/* -1: not yet initialised; the first log site runs __vem_init_logger_default(). */
VEM_API extern int32_t vem_log_level;
/* Set once this copy adopted another copy's logger state (see vem_logger.h). */
VEM_API extern bool is_registered;

/* Built-in sink. Does not test the level: filtering is the log site's. */
VEM_API void _vem_log(int level, const char *format, ...) __attribute__((format(printf, 2, 3)));
/* Writes "[YYYY-mm-dd HH:MM:SS.mmm] " in local time; returns the fprintf result. */
VEM_API int vem_dump_timestamp_logger(FILE *stream);
/* "[error] ", "[warning] ", "[info] ", "[debug] ", or "" for other levels. */
VEM_API const char *vem_priority_level_string_logger(int level);
/* Stores the level and returns the previous one. */
VEM_API int vem_set_log_level(int level);
VEM_API void vem_set_log_func(vem_log_func_t func, int level);
VEM_API vem_log_func_t vem_get_log_func(void);
/* False when refused (the logger state was adopted from another copy). */
VEM_API bool vem_init_stderr_logger(int level);
/* Level from VEM_API_LOG_LEVEL / API_LOG_LEVEL (0 when unset), stderr sink. */
VEM_API bool __vem_init_logger_default(void);
VEM_API void vem_logger_cleanup_mutex_exit_handler(void);

/* The log-call protocol. A filtered site costs one load and one compare: -1 read as
 * unsigned passes every test, so the lazy initialisation sits behind the compare. */
#define VEM_LOG(level, ...)                                                          \
    do {                                                                             \
        if ((uint32_t)vem_log_level >= (uint32_t)(level)) {                          \
            if (vem_log_level == -1) {                                               \
                __vem_init_logger_default();                                         \
                if ((uint32_t)vem_log_level < (uint32_t)(level) || vem_log_level == -1) \
                    break;                                                           \
            }                                                                        \
            vem_log_func_t vem_log_fn_ = vem_get_log_func();                         \
            if (vem_log_fn_)                                                         \
                vem_log_fn_((level), __VA_ARGS__);                                   \
            else                                                                     \
                _vem_log((level), __VA_ARGS__);                                      \
        }                                                                            \
    } while (0)

VEM_END_DECLS

#endif
