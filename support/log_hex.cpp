// Hex dump of a byte buffer at debug level: sixteen bytes to a line, hex cells, then the
// bytes as text.
#include <string.h>

#include "support/log_state.h"
#include "support/vem_logger.h"

namespace {

constexpr size_t kBytesPerLine = 16;
constexpr char kHexDigits[] = "0123456789ABCDEF";

// Lays out one line of up to sixteen bytes into a cleared buffer:
// "30 31 32 33 34 35 36 37  38 39 41 42 43 44 45 46  |  0123456789ABCDEF ".
// The hex part is always 50 characters (missing cells are blank), so the bar keeps its
// column on a short last line.
void format_line(const unsigned char *bytes, size_t count, char (&line)[100]) {
    memset(line, 0, sizeof line);
    size_t at = 0;
    for (size_t cell = 0; cell < kBytesPerLine; ++cell) {
        if (cell < count) {
            line[at++] = kHexDigits[bytes[cell] >> 4];
            line[at++] = kHexDigits[bytes[cell] & 0x0F];
        } else {
            line[at++] = ' ';
            line[at++] = ' ';
        }
        line[at++] = ' ';
        if (cell == 7 || cell == 15)
            line[at++] = ' ';
    }
    line[at++] = '|';
    line[at++] = ' ';
    line[at++] = ' ';
    for (size_t i = 0; i < count; ++i)
        line[at++] = bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.';
    line[at++] = ' ';
    // At most 50 + 3 + 16 + 1 = 70 characters: the last byte stays NUL.
}

} // namespace

extern "C" VEM_API void log_hex(const void *data, uint64_t length) {
    if (!log_level_enabled(VEM_LOG_DEBUG))
        return;
    if (data == nullptr)
        return;
    const auto *bytes = static_cast<const unsigned char *>(data);
    char line[100];
    while (length > 0) {
        size_t count = length < kBytesPerLine ? static_cast<size_t>(length) : kBytesPerLine;
        format_line(bytes, count, line);
        VEM_LOG(VEM_LOG_DEBUG, "%s", line);
        bytes += count;
        length -= count;
    }
}
