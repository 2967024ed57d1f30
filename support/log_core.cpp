// Logging core: the level, the built-in stream and syslog sink, the log function,
// and the standard error sink.
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <syslog.h>

#include "support/log_state.h"

vem_logger_kind_t logger_kind = VEM_LOGGER_STDERR;
FILE *logger_file = nullptr;
vem_log_func_t logger_func = nullptr;
pthread_mutex_t *logger_mutex = nullptr;
pthread_mutex_t logger_own_mutex;

bool log_level_enabled_after_init(int level) {
    __vem_init_logger_default();
    // A level still at -1 means the initialisation could not run (a log site inside it);
    // such messages are dropped.
    return vem_log_level != -1 &&
           static_cast<uint32_t>(vem_log_level) >= static_cast<uint32_t>(level);
}

extern "C" {

VEM_API int32_t vem_log_level = -1;
VEM_API bool is_registered = false;

VEM_API void _vem_log(int level, const char *format, ...) {
    va_list args;
    va_start(args, format);
    if (logger_kind == VEM_LOGGER_SYSLOG) {
        vsyslog(level, format, args);
        va_end(args);
        return;
    }
    FILE *stream = logger_file;
    // An adopted state is never replaced (the stderr sink would refuse, and its refusal
    // message would come back here), so only an own state sets up standard error.
    if (stream == nullptr && !is_registered) {
        vem_init_stderr_logger(vem_log_level);
        stream = logger_file;
    }
    // An adopted stderr or file state without a stream writes to standard error.
    if (stream == nullptr)
        stream = stderr;

    // The line is written whole: under the logger mutex against other threads of every
    // copy that shares it, and under the stream's own lock against other writers of the
    // stream. Unlock exactly the mutex that was locked, even if the sink changed meanwhile.
    pthread_mutex_t *mutex = logger_mutex;
    if (mutex != nullptr)
        pthread_mutex_lock(mutex);
    flockfile(stream);
    vem_dump_timestamp_logger(stream);
    fputs_unlocked(vem_priority_level_string_logger(level), stream);
    vfprintf(stream, format, args);
    fputc_unlocked('\n', stream);
    fflush_unlocked(stream);
    funlockfile(stream);
    if (mutex != nullptr)
        pthread_mutex_unlock(mutex);
    va_end(args);
}

VEM_API int vem_set_log_level(int level) {
    int previous = vem_log_level;
    vem_log_level = level;
    return previous;
}

VEM_API void vem_set_log_func(vem_log_func_t func, int level) {
    logger_func = func;
    logger_kind = VEM_LOGGER_FUNC;
    vem_log_level = level;
}

VEM_API vem_log_func_t vem_get_log_func(void) {
    return logger_func;
}

VEM_API bool vem_init_stderr_logger(int level) {
    if (is_registered) {
        VEM_LOG(VEM_LOG_DEBUG, kRegisteredCannotInitialize, "vem_init_stderr_logger");
        return false;
    }
    // The level is stored first: the mutex set-up below logs.
    logger_kind = VEM_LOGGER_STDERR;
    vem_log_level = level;
    logger_file = stderr;
    if (!_vem_init_logger_mutex())
        VEM_LOG(VEM_LOG_DEBUG, kInitializedWithoutThreadSafety, "vem_init_stderr_logger");
    return true;
}

} // extern "C"
