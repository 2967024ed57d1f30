// Environment lookup of the support library: every variable has a prefixed ("VEM_X")
// and a plain ("X") form, and the prefixed one wins.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/log_state.h"

namespace {

constexpr char kPrefix[] = "VEM_";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
// This lookup runs while the level is still -1: it must not log, since a log site
// would start the default initialisation again.
constexpr char kLevelVariable[] = "VEM_API_LOG_LEVEL";

const char *lookup(const char *name, char *scratch, size_t size) {
    const char *prefixed;
    const char *plain;
    if (strncmp(name, kPrefix, kPrefixLength) == 0) {
        prefixed = name;
        snprintf(scratch, size, "%s", name + kPrefixLength);
        plain = scratch;
    } else {
        snprintf(scratch, size, "VEM_%s", name);
        prefixed = scratch;
        plain = name;
    }
    const char *prefixed_value = getenv(prefixed);
    const char *plain_value = getenv(plain);

    if (strcmp(name, kLevelVariable) == 0)
        return prefixed_value != nullptr ? prefixed_value : plain_value;

    if (prefixed_value != nullptr) {
        if (plain_value != nullptr && strcmp(prefixed_value, plain_value) != 0)
            VEM_LOG(VEM_LOG_WARNING,
                    "[%s] Environment variables conflict - %s=%s and %s=%s. Using %s", "vem_getenv",
                    prefixed, prefixed_value, plain, plain_value, prefixed);
        VEM_LOG(VEM_LOG_DEBUG, "[%s] Using '%s'='%s'", "vem_getenv", prefixed, prefixed_value);
        return prefixed_value;
    }
    if (plain_value != nullptr) {
        VEM_LOG(VEM_LOG_DEBUG, "[%s] Using '%s'='%s'", "vem_getenv", plain, plain_value);
        return plain_value;
    }
    VEM_LOG(VEM_LOG_DEBUG, "[%s] No value for '%s' or '%s'", "vem_getenv", prefixed, plain);
    return nullptr;
}

} // namespace

const char *vem_getenv(const char *name) {
    if (name == nullptr)
        return nullptr;
    // Both names fit in strlen(name) + 6 bytes (one of them is name itself). The
    // library's own names fit on the stack, so a lookup allocates nothing.
    size_t size = strlen(name) + kPrefixLength + 2;
    char local[64];
    if (size <= sizeof local)
        return lookup(name, local, sizeof local);
    char *scratch = static_cast<char *>(malloc(size));
    if (scratch == nullptr)
        return nullptr;
    const char *value = lookup(name, scratch, size);
    free(scratch);
    return value;
}
