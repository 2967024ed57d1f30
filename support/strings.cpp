// Text helpers: trimming, template expansion, joining, searching, base names and
// bounded copies. Every new text comes from malloc or strdup and is the caller's to free.
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "support/vem_log.h"
#include "support/vem_strings.h"

extern "C" {

VEM_API char *trim_white_space(char *str) {
    if (!str)
        return nullptr;
    while (isspace(static_cast<unsigned char>(*str)))
        ++str;
    if (*str == '\0')
        return str;
    char *end = str + strlen(str) - 1;
    while (end > str && isspace(static_cast<unsigned char>(*end)))
        --end;
    end[1] = '\0';
    return str;
}

// Measures on a copy of args, then formats with args itself.
VEM_API char *vem_vexpand_string_template(const char *format, va_list args) {
    int length = -1;
    if (format) {
        va_list measure;
        va_copy(measure, args);
        length = vsnprintf(nullptr, 0, format, measure);
        va_end(measure);
    }
    if (length < 0) {
        VEM_LOG(VEM_LOG_ERROR, "Failed to calculate length of expanded string template");
        return nullptr;
    }
    size_t size = static_cast<size_t>(length) + 1;
    char *text = static_cast<char *>(malloc(size));
    if (!text) {
        int shown = length < INT_MAX ? length + 1 : INT_MAX;
        VEM_LOG(VEM_LOG_ERROR, "Failed to allocate buffer for expanded string of size %d: %s", shown,
                strerror(errno));
        return nullptr;
    }
    if (vsnprintf(text, size, format, args) != length) {
        VEM_LOG(VEM_LOG_ERROR, "Failed to expand file string template");
        free(text);
        return nullptr;
    }
    return text;
}

VEM_API char *vem_expand_string_template(const char *format, ...) {
    va_list args;
    va_start(args, format);
    char *text = vem_vexpand_string_template(format, args);
    va_end(args);
    return text;
}

VEM_API char *string_concat_comma_separated_token(const char *list, const char *token) {
    if (!token)
        return nullptr;
    size_t list_len = list ? strlen(list) : 0;
    size_t token_len = strlen(token);
    char *text = static_cast<char *>(malloc(list_len + token_len + 2));
    if (!text) {
        VEM_LOG(VEM_LOG_ERROR, "[%s] Failed in malloc", "string_concat_comma_separated_token");
        return nullptr;
    }
    char *p = text;
    if (list_len) {
        memcpy(p, list, list_len);
        p += list_len;
        *p++ = ',';
    }
    memcpy(p, token, token_len + 1);
    return text;
}

VEM_API char *string_concat(const char *first, const char *second) {
    if (!first || !second)
        return nullptr;
    size_t first_len = strlen(first);
    size_t second_len = strlen(second);
    char *text = static_cast<char *>(malloc(first_len + second_len + 1));
    if (!text) {
        VEM_LOG(VEM_LOG_ERROR, "[%s] Failed in malloc", "string_concat");
        return nullptr;
    }
    memcpy(text, first, first_len);
    memcpy(text + first_len, second, second_len + 1);
    return text;
}

// Occurrences may overlap: the search moves on by one character after each one.
VEM_API bool find_ith_substr(const char *text, const char *needle, size_t index, size_t *pos) {
    if (!text || !needle || !pos) {
        VEM_LOG(VEM_LOG_ERROR, "[%s] invalid input", "find_ith_substr");
        return false;
    }
    size_t needle_len = strlen(needle);
    size_t seen = 0;
    for (size_t j = 0; text[j] != '\0'; ++j) {
        if (strncmp(text + j, needle, needle_len) != 0)
            continue;
        if (seen == index) {
            *pos = j;
            return true;
        }
        ++seen;
    }
    return false;
}

VEM_API char *get_allocated_basename(const char *path) {
    if (!path || *path == '\0')
        return nullptr;
    const char *slash = strrchr(path, '/');
    return strdup(slash ? slash + 1 : path);
}

VEM_API bool vem_string_ends_with(const char *str, const char *suffix) {
    if (!str || !suffix)
        return false;
    size_t str_len = strlen(str);
    size_t suffix_len = strlen(suffix);
    return suffix_len <= str_len && memcmp(str + str_len - suffix_len, suffix, suffix_len) == 0;
}

// Raw copy: zero bytes in src do not stop it.
VEM_API size_t vem_strncpy(char *dst, size_t dst_size, const char *src, size_t count) {
    if (!dst || dst_size == 0)
        return 0;
    size_t n = dst_size > count ? count : dst_size - 1;
    if (!src)
        n = 0;
    memcpy(dst, src ? src : "", n);
    dst[n] = '\0';
    return n;
}

// Matches "guid" case-insensitively, standing alone (no letter on either side). After
// a mismatch the next character is compared with 'g' again, so the character that broke
// a partial match never starts a new one ("gguid" does not match).
VEM_API bool vem_string_contains_guid(const char *str) {
    static const char kWord[] = "guid";
    if (!str)
        return false;
    size_t n = strlen(str);
    if (n < 4)
        return false;
    size_t matched = 0;
    for (size_t i = 0; i < n; ++i) {
        if (tolower(static_cast<unsigned char>(str[i])) != kWord[matched]) {
            matched = 0;
            continue;
        }
        if (++matched < 4)
            continue;
        matched = 0;
        size_t start = i - 3;
        bool before = start > 0 && isalpha(static_cast<unsigned char>(str[start - 1]));
        bool after = i + 1 < n && isalpha(static_cast<unsigned char>(str[i + 1]));
        if (!before && !after)
            return true;
    }
    return false;
}

}  // extern "C"
