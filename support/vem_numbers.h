/* Strict text-to-number parsers, boolean words, hex digits and formatting helpers.
 * Every parser returns false on a rejection and then leaves *out unwritten. */
#ifndef VEM_NUMBERS_H
#define VEM_NUMBERS_H

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "support/vem_export.h"

VEM_BEGIN_DECLS

/* One table cell: " %*lld |", or " %*lld k |" with width - 2 for values >= 1000. */
VEM_API int print_si_prefixed_value(FILE *stream, int width, int64_t value);

/* Base 0 ("0x" hex, leading 0 octal, else decimal); the whole text must be the number. */
VEM_API bool string_to_long(const char *str, long *out);
VEM_API bool string_to_unsigned_long(const char *str, unsigned long *out);
VEM_API bool string_to_long_long(const char *str, long long *out);
VEM_API bool string_to_unsigned_long_long(const char *str, unsigned long long *out);
VEM_API bool string_to_sizet(const char *str, size_t *out);
VEM_API bool string_to_u8(const char *str, uint8_t *out);
VEM_API bool string_to_u16(const char *str, uint16_t *out);
VEM_API bool string_to_u32(const char *str, uint32_t *out);
VEM_API bool string_to_u64(const char *str, uint64_t *out);
/* Parses at most len characters of str as a signed 32-bit int. */
VEM_API bool bounded_string_to_int(const char *str, size_t len, int *out);

/* True for NULL, "1", "True" and "true" only. */
VEM_API bool vem_string_to_boolean(const char *str);
/* Static "true" or "false". */
VEM_API const char *boolean_to_string(bool value);
/* 0 to 15 for a hex digit of either case, else -1. */
VEM_API int hex_char_to_int(char c);
/* "0x" and sixteen lower-case hex digits on the heap (free with free), or NULL. */
VEM_API char *vem_get_hex_string_from_uint64(uint64_t value);

VEM_END_DECLS

#endif
