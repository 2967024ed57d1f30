// One writer thread and one reader thread on one ring: every byte arrives once and in
// order. Run under ThreadSanitizer, this also shows the index hand-over is race-free.
#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "lwrb.h"
#include "fixture/watchdog.h"

namespace {

constexpr size_t kTotal = 1000000;

uint8_t byte_at(size_t i) { return static_cast<uint8_t>((i * 2654435761u) >> 13); }

TEST(RingBufferThreads, WriterAndReaderMoveAMillionBytesIntact) {
    testhost::Watchdog watchdog("ring buffer producer/consumer");
    std::vector<uint8_t> storage(4093); // odd size: the pieces wrap at ever-changing places
    lwrb_ring_t ring;
    ASSERT_EQ(lwrb_init(&ring, storage.data(), storage.size()), 1);

    uint64_t sent_sum = 0;
    std::thread writer([&] {
        uint8_t chunk[777];
        size_t next = 0;
        while (next < kTotal) {
            size_t n = std::min(sizeof chunk, kTotal - next);
            for (size_t i = 0; i < n; ++i)
                chunk[i] = byte_at(next + i);
            size_t done = 0;
            while (done < n) {
                size_t w = lwrb_write(&ring, chunk + done, n - done);
                if (w == 0)
                    std::this_thread::yield();
                done += w;
            }
            for (size_t i = 0; i < n; ++i)
                sent_sum = sent_sum * 31 + chunk[i];
            next += n;
        }
    });

    uint64_t received_sum = 0;
    size_t received = 0, mismatches = 0;
    uint8_t chunk[1000];
    while (received < kTotal) {
        // Alternate copying reads with zero-copy reads through the linear block.
        size_t n;
        const uint8_t *bytes;
        if (received % 2 == 0) {
            n = lwrb_read(&ring, chunk, sizeof chunk);
            bytes = chunk;
        } else {
            n = lwrb_get_linear_block_read_length(&ring);
            bytes = static_cast<const uint8_t *>(lwrb_get_linear_block_read_address(&ring));
        }
        if (n == 0) {
            std::this_thread::yield();
            continue;
        }
        for (size_t i = 0; i < n; ++i) {
            mismatches += bytes[i] != byte_at(received + i);
            received_sum = received_sum * 31 + bytes[i];
        }
        if (bytes != chunk) {
            ASSERT_EQ(lwrb_skip(&ring, n), n);
        }
        received += n;
    }
    writer.join();
    EXPECT_EQ(received, kTotal);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(received_sum, sent_sum);
    EXPECT_EQ(lwrb_get_full(&ring), 0u);
}

} // namespace
