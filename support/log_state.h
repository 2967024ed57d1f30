// Logger state private to this copy of the library, shared by the logging sources.
// vem_log_level and is_registered are exported (vem_log.h); everything here is hidden,
// so a second copy of the library in the same process keeps a state of its own.
#pragma once

#include <pthread.h>
#include <stdio.h>

#include "support/vem_log.h"

// The current sink. VEM_LOGGER_FUNC without a log function writes like the stderr kind.
extern vem_logger_kind_t logger_kind;
// Stream of the stderr and file sinks; NULL until the stderr sink is first selected.
extern FILE *logger_file;
// While set, every log site calls it instead of the built-in sink.
extern vem_log_func_t logger_func;
// The mutex that serialises stream lines: NULL, this copy's own, or an adopted one.
extern pthread_mutex_t *logger_mutex;
// This copy's own mutex; logger_mutex points here once it was initialised.
extern pthread_mutex_t logger_own_mutex;

// Debug messages shared by the sink initialisers (stderr, syslog, file); %s is the
// initialiser's name.
inline constexpr char kRegisteredCannotInitialize[] =
    "[logger] [%s] registered logger cannot initialize logger";
inline constexpr char kInitializedWithoutThreadSafety[] =
    "[logger] [%s] Initialized logger without thread-safety";

// Reads an environment variable under its prefixed ("VEM_X") and plain ("X") names.
// The result points into the environment; NULL when neither is set.
const char *vem_getenv(const char *name);
// Creates this copy's mutex unless the environment turns thread safety off. False when
// the environment turns it off (a mutex created earlier stays in use) or when the mutex
// cannot be initialised.
bool _vem_init_logger_mutex(void);

// The level test of a log site, with the lazy default initialisation. True when a
// message of the given level is to be written. The filtered case stays inline: one load
// and one compare, as in VEM_LOG.
bool log_level_enabled_after_init(int level);
inline bool log_level_enabled(int level) {
    if (static_cast<uint32_t>(vem_log_level) < static_cast<uint32_t>(level))
        return false;
    return vem_log_level != -1 || log_level_enabled_after_init(level);
}
