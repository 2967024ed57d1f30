/* Declaration helpers shared by every public header of libsentrel. */
#ifndef VEM_EXPORT_H
#define VEM_EXPORT_H

#ifdef __cplusplus
#define VEM_BEGIN_DECLS extern "C" {
#define VEM_END_DECLS }
#define VEM_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define VEM_BEGIN_DECLS
#define VEM_END_DECLS
#define VEM_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/* Marks a name that the library exports. Everything else is built hidden, and the
 * linker version script lists exactly the exported names. Exported functions keep
 * default visibility so that a host defining the same names interposes them. */
#define VEM_API __attribute__((visibility("default")))

#endif
