// The mutex that serialises stream lines, and its clean-up when the process exits or
// the library is unloaded.
#include <ctype.h>
#include <pthread.h>

#include "support/log_state.h"

// Set by the linker for this shared object (or executable): handlers registered with it
// run when this object is unloaded, or at process exit, whichever comes first.
extern "C" __attribute__((visibility("hidden"))) void *__dso_handle;
extern "C" int __cxa_atexit(void (*handler)(void *), void *arg, void *dso);

namespace {

bool exit_handler_registered = false;

void run_exit_handler(void *) {
    vem_logger_cleanup_mutex_exit_handler();
}

// Unset, empty, or beginning with 1, t or y (any case) keeps thread safety.
bool thread_safety_disabled(const char *value) {
    if (value == nullptr || value[0] == '\0')
        return false;
    int first = tolower(static_cast<unsigned char>(value[0]));
    return first != '1' && first != 't' && first != 'y';
}

} // namespace

bool _vem_init_logger_mutex(void) {
    if (thread_safety_disabled(vem_getenv("VEM_LOG_THREAD_SAFE"))) {
        VEM_LOG(VEM_LOG_DEBUG,
                "[logger] [%s] Thread safety is disabled by environment variable "
                "VEM_LOG_THREAD_SAFE",
                "_vem_init_logger_mutex");
        return false;
    }
    if (is_registered)
        return true;
    if (logger_mutex != nullptr)
        return true;
    // Published only once initialised, so no log site locks a mutex being set up.
    if (pthread_mutex_init(&logger_own_mutex, nullptr) != 0) {
        VEM_LOG(VEM_LOG_ERROR, "[logger] [%s] failed to initialize logger mutex",
                "_vem_init_logger_mutex");
        return false;
    }
    logger_mutex = &logger_own_mutex;
    if (!exit_handler_registered)
        exit_handler_registered = __cxa_atexit(run_exit_handler, nullptr, &__dso_handle) == 0;
    return true;
}

extern "C" VEM_API void vem_logger_cleanup_mutex_exit_handler(void) {
    if (is_registered || logger_mutex == nullptr)
        return;
    pthread_mutex_destroy(logger_mutex);
    logger_mutex = nullptr;
}
