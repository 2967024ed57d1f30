// The syslog and file sinks, and closing a sink.
#include <stdio.h>
#include <syslog.h>

#include "support/log_state.h"
#include "support/vem_logger.h"

extern "C" {

VEM_API bool vem_init_syslog_logger(const char *ident, int level) {
    if (is_registered) {
        VEM_LOG(VEM_LOG_DEBUG, kRegisteredCannotInitialize, "vem_init_syslog_logger");
        return false;
    }
    // The file of an earlier file sink stays open; vem_close_logger closes syslog later.
    openlog(ident, LOG_PID | LOG_CONS, LOG_DAEMON);
    logger_kind = VEM_LOGGER_SYSLOG;
    vem_log_level = level;
    if (!_vem_init_logger_mutex())
        VEM_LOG(VEM_LOG_DEBUG, kInitializedWithoutThreadSafety, "vem_init_syslog_logger");
    return true;
}

VEM_API bool vem_init_file_logger(const char *path, int level) {
    if (is_registered) {
        VEM_LOG(VEM_LOG_DEBUG, kRegisteredCannotInitialize, "vem_init_file_logger");
        return false;
    }
    vem_close_logger();
    logger_file = path != nullptr ? fopen(path, "w") : nullptr;
    if (logger_file == nullptr) {
        vem_init_stderr_logger(level);
        return false;
    }
    logger_kind = VEM_LOGGER_FILE;
    vem_log_level = level;
    if (!_vem_init_logger_mutex())
        VEM_LOG(VEM_LOG_DEBUG, kInitializedWithoutThreadSafety, "vem_init_file_logger");
    return true;
}

VEM_API void vem_close_logger(void) {
    if (is_registered) {
        VEM_LOG(VEM_LOG_DEBUG, "[logger] [%s] tried closing a registered logger, skipping closure",
                "vem_close_logger");
        return;
    }
    if (logger_kind == VEM_LOGGER_SYSLOG) {
        closelog();
    } else if (logger_kind == VEM_LOGGER_FILE && logger_file != nullptr) {
        fclose(logger_file);
        logger_file = nullptr;
    }
    vem_init_stderr_logger(vem_log_level);
}

} // extern "C"
