/* String utilities. Every new heap text comes from malloc or strdup and is freed by
 * the caller with free; no function frees or keeps its arguments. */
#ifndef VEM_STRINGS_H
#define VEM_STRINGS_H

#include <stdarg.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h> /* strnlen: the library exports its own, with the C library's prototype */

#include "support/vem_export.h"

VEM_BEGIN_DECLS

/* Trims in place; returns a pointer to the first non-space character of str. */
VEM_API char *trim_white_space(char *str);
/* printf-style expansion into a new heap text, or NULL. */
VEM_API char *vem_vexpand_string_template(const char *format, va_list args);
VEM_API char *vem_expand_string_template(const char *format, ...) __attribute__((format(printf, 1, 2)));
/* Reads 32 hex digits (dashes skipped anywhere) into 16 bytes in text order. */
VEM_API bool string_to_guid(const char *str, uint8_t *guid);
/* "list,token", or a copy of token when list is NULL or empty. */
VEM_API char *string_concat_comma_separated_token(const char *list, const char *token);
VEM_API char *string_concat(const char *first, const char *second);
/* Position of occurrence number index (from 0, overlapping) of needle in text. */
VEM_API bool find_ith_substr(const char *text, const char *needle, size_t index, size_t *pos);
/* Copy of the text after the last '/', or NULL for a NULL or empty path. */
VEM_API char *get_allocated_basename(const char *path);
VEM_API bool vem_string_ends_with(const char *str, const char *suffix);
/* Copies n = min(count, dst_size - 1) raw bytes and a terminator; returns n. */
VEM_API size_t vem_strncpy(char *dst, size_t dst_size, const char *src, size_t count);
/* Copies the visible ASCII prefix of src (or "N/A"), terminated within len bytes. */
VEM_API char *strncpy_visible_ascii(char *dst, const char *src, size_t len);
/* True when str holds the word "guid" in any case, not flanked by letters. */
VEM_API bool vem_string_contains_guid(const char *str);

VEM_END_DECLS

#endif
