// Interposes the C library's allocation functions, forwarding to the real ones found
// with dlsym(RTLD_NEXT). dlsym itself may allocate before the real functions are known;
// those early requests are served from a small static arena that free() ignores.
#include "fault_inject.h"

#include <dlfcn.h>
#include <errno.h>
#include <stdint.h>
#include <string.h>

namespace {

using malloc_fn = void *(*)(size_t);
using calloc_fn = void *(*)(size_t, size_t);
using realloc_fn = void *(*)(void *, size_t);
using free_fn = void (*)(void *);

malloc_fn real_malloc;
calloc_fn real_calloc;
realloc_fn real_realloc;
free_fn real_free;
bool resolving;

alignas(16) unsigned char arena[64 * 1024];
size_t arena_used;

#define TLS __thread __attribute__((tls_model("initial-exec")))
TLS unsigned long allocations;
TLS unsigned long fail_at;   // absolute allocation number that fails, 0 = none
TLS bool fail_onwards;
TLS bool fired;

bool in_arena(const void *p) {
    return p >= static_cast<const void *>(arena) &&
           p < static_cast<const void *>(arena + sizeof arena);
}

void *arena_alloc(size_t size) {
    size = (size + 15) & ~static_cast<size_t>(15);
    if (arena_used + size > sizeof arena)
        return nullptr;
    void *p = arena + arena_used;
    arena_used += size;
    return p;
}

void resolve() {
    if (real_malloc || resolving)
        return;
    resolving = true;
    real_calloc = reinterpret_cast<calloc_fn>(dlsym(RTLD_NEXT, "calloc"));
    real_realloc = reinterpret_cast<realloc_fn>(dlsym(RTLD_NEXT, "realloc"));
    real_free = reinterpret_cast<free_fn>(dlsym(RTLD_NEXT, "free"));
    real_malloc = reinterpret_cast<malloc_fn>(dlsym(RTLD_NEXT, "malloc"));
    resolving = false;
}

// Counts one allocation; true when this one must fail.
bool must_fail() {
    ++allocations;
    if (fail_at == 0)
        return false;
    bool hit = fail_onwards ? allocations >= fail_at : allocations == fail_at;
    if (hit)
        fired = true;
    return hit;
}

}  // namespace

extern "C" {

void vem_fault_fail_nth(unsigned long n) {
    fail_at = n ? allocations + n : 0;
    fail_onwards = false;
    fired = false;
}

void vem_fault_fail_from(unsigned long n) {
    fail_at = n ? allocations + n : 0;
    fail_onwards = true;
    fired = false;
}

bool vem_fault_fired(void) { return fired; }

unsigned long vem_fault_allocations(void) { return allocations; }

void *malloc(size_t size) {
    resolve();
    if (!real_malloc)
        return arena_alloc(size);
    if (must_fail()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_malloc(size);
}

void *calloc(size_t n, size_t size) {
    resolve();
    if (!real_calloc) {
        if (size && n > SIZE_MAX / size)
            return nullptr;
        return arena_alloc(n * size);  // the arena is zero-filled and never reused
    }
    if (must_fail()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_calloc(n, size);
}

void *realloc(void *p, size_t size) {
    resolve();
    if (in_arena(p)) {
        void *q = malloc(size);
        size_t room = static_cast<size_t>(arena + sizeof arena - static_cast<unsigned char *>(p));
        if (q)
            memcpy(q, p, size < room ? size : room);
        return q;
    }
    if (must_fail()) {
        errno = ENOMEM;
        return nullptr;
    }
    return real_realloc(p, size);
}

void free(void *p) {
    if (!p || in_arena(p))
        return;
    resolve();
    real_free(p);
}

char *strdup(const char *s) {
    size_t n = strlen(s) + 1;
    char *d = static_cast<char *>(malloc(n));
    if (d)
        memcpy(d, s, n);
    return d;
}

}  // extern "C"
