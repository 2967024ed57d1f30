#include <cstdarg>
#include <cstdio>

#include "postvane_internal.h"

namespace postvane {

void print_out(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(stdout, format, ap);
    va_end(ap);
    fflush(stdout);
}

} // namespace postvane
