// The default initialisation that the first log site runs: the stderr sink with the
// level from the environment.
#include <limits.h>
#include <pthread.h>
#include <stdlib.h>

#include "support/log_state.h"

namespace {

static_assert(sizeof(pthread_t) == sizeof(unsigned long), "pthread_t fits the guard word");

// The thread that is running the default initialisation, 0 when none. Log sites inside
// the initialisation run while the level can still be -1; on that thread they must not
// start it again.
unsigned long initialising_thread = 0;

// The level that VEM_API_LOG_LEVEL / API_LOG_LEVEL selects: the leading integer of the
// value (blanks before it are skipped, text after it ignored), clamped to the int range;
// 0 when the value is unset or does not begin with an integer. -1 would mean "not yet
// initialised" and restart the initialisation at every log site, so it also selects 0.
int level_from_environment() {
    const char *value = vem_getenv("VEM_API_LOG_LEVEL");
    if (value == nullptr)
        return 0;
    char *end = nullptr;
    long level = strtol(value, &end, 10);
    if (end == value)
        return 0;
    if (level > INT_MAX)
        level = INT_MAX;
    if (level < INT_MIN)
        level = INT_MIN;
    return level == -1 ? 0 : static_cast<int>(level);
}

} // namespace

extern "C" VEM_API bool __vem_init_logger_default(void) {
    unsigned long self = static_cast<unsigned long>(pthread_self());
    if (__atomic_load_n(&initialising_thread, __ATOMIC_RELAXED) == self)
        return false;
    unsigned long outer = __atomic_exchange_n(&initialising_thread, self, __ATOMIC_RELAXED);

    int level = level_from_environment();
    bool initialised = vem_init_stderr_logger(level);
    // An adopted state refuses the stderr sink. It keeps its sink, and takes the level
    // from the environment when it has none, so that log sites stop initialising.
    if (!initialised && vem_log_level == -1)
        vem_set_log_level(level);

    __atomic_store_n(&initialising_thread, outer, __ATOMIC_RELAXED);
    return initialised;
}
