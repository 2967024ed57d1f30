// The library exports strnlen under the C library's name and prototype (which glibc
// declares noexcept for C++). A host that resolves strnlen through the plug-in gets the
// same answers as from the C library.
#include <string.h>

#include "support/vem_export.h"

extern "C" VEM_API size_t strnlen(const char *str, size_t max) noexcept {
    const void *nul = memchr(str, '\0', max);
    return nul ? static_cast<size_t>(static_cast<const char *>(nul) - str) : max;
}
