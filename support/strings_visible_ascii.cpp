// A copy that lets only visible ASCII (32 to 126) through, with rate-limited messages
// for the three kinds of bad call.
#include <stdint.h>
#include <string.h>
#include <time.h>

#include "support/vem_log.h"
#include "support/vem_strings.h"

namespace {

// Each message has its own last-emission time, shared by all threads without a lock:
// a race can at worst let a message through twice within the interval.
struct RateLimit {
    bool emitted;
    uint64_t last_us;
};
RateLimit null_destination;
RateLimit null_source;
RateLimit zero_length;

constexpr uint64_t kIntervalUs = 10000000;

uint64_t realtime_us() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000U + static_cast<uint64_t>(ts.tv_nsec) / 1000U;
}

using clock_fn = uint64_t (*)();
clock_fn read_clock = realtime_us;

// The level test comes first, so while errors are kept back the clock is not read and
// the recorded time stays.
void log_rate_limited(RateLimit &limit, const char *format) {
    if (vem_log_level == -1)
        __vem_init_logger_default();
    if (static_cast<uint32_t>(vem_log_level) < VEM_LOG_ERROR)
        return;
    uint64_t now = read_clock();
    if (limit.emitted && now - limit.last_us < kIntervalUs)
        return;
    limit.emitted = true;
    limit.last_us = now;
    VEM_LOG(VEM_LOG_ERROR, format, "strncpy_visible_ascii");
}

inline bool visible(unsigned char c) { return c >= 32 && c <= 126; }

}  // namespace

// Hidden: lets white-box tests replace the real-time clock (microseconds); NULL restores it.
extern "C" void vem_strings_set_clock_for_test(uint64_t (*clock)(void)) {
    read_clock = clock ? clock : realtime_us;
}

extern "C" {

VEM_API char *strncpy_visible_ascii(char *dst, const char *src, size_t len) {
    if (!dst) {
        log_rate_limited(null_destination, "%s: Destination buffer is NULL");
        return dst;
    }
    if (!src) {
        log_rate_limited(null_source, "%s: Source string is NULL");
        return dst;
    }
    if (len == 0) {
        log_rate_limited(zero_length, "%s: Length is 0");
        return dst;
    }
    memset(dst, 0, len);
    const unsigned char first = static_cast<unsigned char>(src[0]);
    if (first != '\0' && !visible(first)) {
        static const char kPlaceholder[] = "N/A";
        size_t n = len - 1 < sizeof kPlaceholder - 1 ? len - 1 : sizeof kPlaceholder - 1;
        memcpy(dst, kPlaceholder, n);
        return dst;
    }
    // A byte that is not visible, the terminator included, ends the copy.
    for (size_t i = 0; i < len - 1 && visible(static_cast<unsigned char>(src[i])); ++i)
        dst[i] = src[i];
    return dst;
}

}  // extern "C"
