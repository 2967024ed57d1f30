// The timestamp prefix and the level tags of stream lines.
#include <stdio.h>
#include <time.h>

#include "support/vem_log.h"

extern "C" {

// "[YYYY-mm-dd HH:MM:SS.mmm] " in local time, milliseconds truncated.
VEM_API int vem_dump_timestamp_logger(FILE *stream) {
    if (stream == nullptr)
        return -1;
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local = {};
    localtime_r(&now.tv_sec, &local);
    char text[26];
    if (strftime(text, sizeof text, "[%Y-%m-%d %H:%M:%S", &local) == 0)
        text[0] = '\0';
    return fprintf(stream, "%s.%03d] ", text, static_cast<int>(now.tv_nsec / 1000000));
}

VEM_API const char *vem_priority_level_string_logger(int level) {
    switch (level) {
    case VEM_LOG_ERROR:
        return "[error] ";
    case VEM_LOG_WARNING:
        return "[warning] ";
    case VEM_LOG_INFO:
        return "[info] ";
    case VEM_LOG_DEBUG:
        return "[debug] ";
    default:
        return "";
    }
}

} // extern "C"
