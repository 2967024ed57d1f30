/* Allocation fault injection for tests. Linked into a test program, the library
 * interposes malloc, calloc, realloc and strdup for the whole process (the plug-in
 * included) and forwards to the C library's versions. Counting and arming are per
 * thread. Not usable under AddressSanitizer, whose interceptors come first. */
#ifndef VEM_TESTS_FAULT_INJECT_H
#define VEM_TESTS_FAULT_INJECT_H

#include <stdbool.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Makes the n-th allocation (1-based) of the calling thread from now fail; 0 disarms. */
void vem_fault_fail_nth(unsigned long n);
/* Makes every allocation of the calling thread fail from the n-th on; 0 disarms. */
void vem_fault_fail_from(unsigned long n);
/* Whether an armed failure has been delivered since the last arming. */
bool vem_fault_fired(void);
/* Allocations (successful or failed) made by the calling thread so far. */
unsigned long vem_fault_allocations(void);

#ifdef __cplusplus
}

/* Runs op with allocation n failing, for n = 1, 2, ... until op runs without the
 * failure being hit; check(n, failed) is called after every pass. Returns the number of
 * passes that hit a failure. */
template <typename Op, typename Check>
unsigned long vem_fault_loop(Op op, Check check, unsigned long limit = 10000) {
    unsigned long n = 1;
    for (; n <= limit; ++n) {
        vem_fault_fail_nth(n);
        op();
        bool fired = vem_fault_fired();
        vem_fault_fail_nth(0);
        check(n, fired);
        if (!fired)
            break;
    }
    return n - 1;
}
#endif

#endif
