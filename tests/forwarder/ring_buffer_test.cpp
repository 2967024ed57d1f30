// The ring buffer on one thread: capacity, wrap-around, peek, skip/advance and their
// events, reset, the linear blocks, and a ring that is not ready.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "lwrb.h"

namespace {

struct Event {
    lwrb_event_t type;
    size_t count;
    bool operator==(const Event &) const = default;
};

std::vector<Event> *g_events = nullptr;

void record_event(lwrb_ring_t *, lwrb_event_t type, size_t count) { g_events->push_back({type, count}); }

// A ring over its own storage that records every event.
struct Ring {
    explicit Ring(size_t size) : storage(size, 0xEE) {
        EXPECT_EQ(lwrb_init(&ring, storage.data(), storage.size()), 1);
        g_events = &events;
        lwrb_set_evt_fn(&ring, record_event);
    }
    ~Ring() { g_events = nullptr; }
    size_t write(const std::string &s) { return lwrb_write(&ring, s.data(), s.size()); }
    std::string read(size_t n) {
        std::string out(n, '\0');
        out.resize(lwrb_read(&ring, out.data(), n));
        return out;
    }
    std::string peek(size_t skip, size_t n) const {
        std::string out(n, '\0');
        out.resize(lwrb_peek(&ring, skip, out.data(), n));
        return out;
    }
    std::vector<uint8_t> storage;
    lwrb_ring_t ring;
    std::vector<Event> events;
};

TEST(RingBuffer, InitRefusesMissingArgumentsAndLeavesTheRecordAlone) {
    uint8_t storage[8];
    lwrb_ring_t ring;
    memset(&ring, 0x5A, sizeof ring);
    const lwrb_ring_t before = ring;
    EXPECT_EQ(lwrb_init(nullptr, storage, sizeof storage), 0);
    EXPECT_EQ(lwrb_init(&ring, nullptr, sizeof storage), 0);
    EXPECT_EQ(lwrb_init(&ring, storage, 0), 0);
    EXPECT_EQ(memcmp(&ring, &before, sizeof ring), 0);

    ASSERT_EQ(lwrb_init(&ring, storage, sizeof storage), 1);
    EXPECT_EQ(ring.guard_head, 0xDEADBEEFu);
    EXPECT_EQ(ring.guard_tail, 0x21524110u);
    EXPECT_EQ(ring.read_index, 0u);
    EXPECT_EQ(ring.write_index, 0u);
    EXPECT_EQ(ring.event_fn, nullptr);
    EXPECT_EQ(lwrb_is_ready(&ring), 1);
    EXPECT_EQ(lwrb_get_free(&ring), 7u);
    EXPECT_EQ(lwrb_get_full(&ring), 0u);
}

TEST(RingBuffer, SizeOneNeverHoldsAByte) {
    Ring r(1);
    EXPECT_EQ(r.write("a"), 0u);
    EXPECT_EQ(lwrb_get_free(&r.ring), 0u);
    EXPECT_EQ(lwrb_get_full(&r.ring), 0u);
    EXPECT_EQ(lwrb_get_linear_block_write_length(&r.ring), 0u);
    EXPECT_TRUE(r.events.empty());
}

TEST(RingBuffer, WriteStopsOneByteShortOfFull) {
    Ring r(8);
    EXPECT_EQ(r.write("0123456789"), 7u);
    EXPECT_EQ(lwrb_get_free(&r.ring), 0u);
    EXPECT_EQ(lwrb_get_full(&r.ring), 7u);
    EXPECT_EQ(r.write("x"), 0u);
    EXPECT_EQ(r.read(10), "0123456");
    EXPECT_EQ(r.events, (std::vector<Event>{{LWRB_EVENT_WRITE, 7}, {LWRB_EVENT_READ, 7}}));
}

TEST(RingBuffer, WriteWrapsAroundTheEndInTwoPieces) {
    Ring r(8);
    ASSERT_EQ(r.write("abcde"), 5u);
    ASSERT_EQ(r.read(3), "abc");
    ASSERT_EQ(r.write("WXYZ"), 4u);
    EXPECT_EQ(r.ring.write_index, 1u);
    EXPECT_EQ(std::string(r.storage.begin() + 5, r.storage.end()), "WXY");
    EXPECT_EQ(r.storage[0], 'Z');
    EXPECT_EQ(lwrb_get_full(&r.ring), 6u);
    EXPECT_EQ(lwrb_get_free(&r.ring), 1u);
    EXPECT_EQ(r.read(10), "deWXYZ");
    EXPECT_EQ(r.ring.read_index, 1u);
}

TEST(RingBuffer, IndexesReturnToZeroAtTheExactEnd) {
    Ring r(8);
    ASSERT_EQ(r.write("abcdefg"), 7u);
    ASSERT_EQ(r.read(7), "abcdefg");
    ASSERT_EQ(r.write("h"), 1u);
    EXPECT_EQ(r.ring.write_index, 0u);
    ASSERT_EQ(r.read(1), "h");
    EXPECT_EQ(r.ring.read_index, 0u);
}

TEST(RingBuffer, NothingToMoveMeansNoEventForReadAndWrite) {
    Ring r(8);
    char byte;
    EXPECT_EQ(lwrb_read(&r.ring, &byte, 1), 0u);
    EXPECT_EQ(lwrb_write(&r.ring, nullptr, 3), 0u);
    EXPECT_EQ(lwrb_write(&r.ring, "x", 0), 0u);
    ASSERT_EQ(r.write("1234567"), 7u);
    EXPECT_EQ(r.write("8"), 0u);
    EXPECT_EQ(lwrb_read(&r.ring, nullptr, 3), 0u);
    EXPECT_EQ(r.events, (std::vector<Event>{{LWRB_EVENT_WRITE, 7}}));
}

TEST(RingBuffer, PeekCopiesWithoutConsuming) {
    Ring r(8);
    ASSERT_EQ(r.write("abcde"), 5u);
    ASSERT_EQ(r.read(3), "abc");
    ASSERT_EQ(r.write("WXYZ"), 4u); // held: d e W X Y Z, wrapped
    r.events.clear();

    struct Case {
        size_t skip, count;
        const char *expected;
    } cases[] = {
        {0, 10, "deWXYZ"}, {2, 3, "WXY"}, {3, 10, "XYZ"}, // starts past the end
        {5, 1, "Z"},       {6, 1, ""},    {7, 1, ""},     // skip at or beyond what is held
    };
    for (const auto &c : cases)
        EXPECT_EQ(r.peek(c.skip, c.count), c.expected) << "skip " << c.skip;
    char byte;
    EXPECT_EQ(lwrb_peek(&r.ring, 0, &byte, 0), 0u);
    EXPECT_EQ(lwrb_peek(&r.ring, 0, nullptr, 1), 0u);
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(r.read(10), "deWXYZ");
}

TEST(RingBuffer, SkipAndAdvanceFireTheirEventsEvenWhenNothingMoves) {
    Ring r(8);
    EXPECT_EQ(lwrb_skip(&r.ring, 3), 0u);
    EXPECT_EQ(r.events, (std::vector<Event>{{LWRB_EVENT_READ, 0}}));
    r.events.clear();

    EXPECT_EQ(lwrb_skip(&r.ring, 0), 0u); // a zero count is no call at all
    EXPECT_EQ(lwrb_advance(&r.ring, 0), 0u);
    EXPECT_TRUE(r.events.empty());

    EXPECT_EQ(lwrb_advance(&r.ring, 20), 7u);
    EXPECT_EQ(lwrb_advance(&r.ring, 1), 0u);
    EXPECT_EQ(lwrb_skip(&r.ring, 5), 5u);
    EXPECT_EQ(lwrb_advance(&r.ring, 4), 4u); // write index 7 + 4 wraps to 3
    EXPECT_EQ(r.ring.write_index, 3u);
    EXPECT_EQ(lwrb_skip(&r.ring, 100), 6u); // read index 5 + 6 wraps to 3
    EXPECT_EQ(r.ring.read_index, 3u);
    EXPECT_EQ(r.events, (std::vector<Event>{{LWRB_EVENT_WRITE, 7},
                                            {LWRB_EVENT_WRITE, 0},
                                            {LWRB_EVENT_READ, 5},
                                            {LWRB_EVENT_WRITE, 4},
                                            {LWRB_EVENT_READ, 6}}));
}

TEST(RingBuffer, ResetEmptiesWithoutTouchingTheBytes) {
    Ring r(8);
    ASSERT_EQ(r.write("abc"), 3u);
    ASSERT_EQ(r.read(1), "a");
    r.events.clear();
    lwrb_reset(&r.ring);
    EXPECT_EQ(r.ring.read_index, 0u);
    EXPECT_EQ(r.ring.write_index, 0u);
    EXPECT_EQ(lwrb_get_full(&r.ring), 0u);
    EXPECT_EQ(std::string(r.storage.begin(), r.storage.begin() + 3), "abc");
    EXPECT_EQ(r.events, (std::vector<Event>{{LWRB_EVENT_RESET, 0}}));
}

TEST(RingBuffer, LinearBlocksForZeroCopyUse) {
    struct Case {
        size_t read_index, write_index;
        size_t read_length, write_length;
    } cases[] = {
        {0, 0, 0, 7}, // empty at 0: the last byte stays free
        {2, 6, 4, 2}, // write ahead: up to the end
        {3, 3, 0, 5}, // empty elsewhere
        {6, 2, 2, 3}, // wrapped: read to the end, write up to one short of read
        {0, 7, 7, 0}, // full
        {5, 4, 3, 0}, // full, wrapped
    };
    for (const auto &c : cases) {
        Ring r(8);
        r.ring.read_index = c.read_index;
        r.ring.write_index = c.write_index;
        EXPECT_EQ(lwrb_get_linear_block_read_length(&r.ring), c.read_length)
            << c.read_index << "/" << c.write_index;
        EXPECT_EQ(lwrb_get_linear_block_write_length(&r.ring), c.write_length)
            << c.read_index << "/" << c.write_index;
        EXPECT_EQ(lwrb_get_linear_block_read_address(&r.ring), r.storage.data() + c.read_index);
        EXPECT_EQ(lwrb_get_linear_block_write_address(&r.ring), r.storage.data() + c.write_index);
    }
}

TEST(RingBuffer, FillAndDrainThroughTheLinearBlocks) {
    Ring r(8);
    std::string out;
    const std::string in = "the quick brown fox";
    size_t written = 0;
    while (out.size() < in.size()) {
        size_t room = lwrb_get_linear_block_write_length(&r.ring);
        size_t n = std::min(room, in.size() - written);
        memcpy(lwrb_get_linear_block_write_address(&r.ring), in.data() + written, n);
        ASSERT_EQ(lwrb_advance(&r.ring, n), n);
        written += n;
        size_t ready = lwrb_get_linear_block_read_length(&r.ring);
        out.append(static_cast<const char *>(lwrb_get_linear_block_read_address(&r.ring)), ready);
        ASSERT_EQ(lwrb_skip(&r.ring, ready), ready);
    }
    EXPECT_EQ(out, in);
}

TEST(RingBuffer, EveryCallIsInertOnARingThatIsNotReady) {
    enum Damage { Freed, HeadGuard, TailGuard, NullRing };
    for (Damage damage : {Freed, HeadGuard, TailGuard, NullRing}) {
        Ring r(8);
        ASSERT_EQ(r.write("abc"), 3u);
        r.events.clear();
        lwrb_ring_t *ring = &r.ring;
        switch (damage) {
        case Freed: lwrb_free(ring); break;
        case HeadGuard: ring->guard_head ^= 1; break;
        case TailGuard: ring->guard_tail = 0; break;
        case NullRing: ring = nullptr; break;
        }
        const size_t read_index = r.ring.read_index, write_index = r.ring.write_index;
        char out[4];
        EXPECT_EQ(lwrb_is_ready(ring), 0);
        EXPECT_EQ(lwrb_write(ring, "xy", 2), 0u);
        EXPECT_EQ(lwrb_read(ring, out, 2), 0u);
        EXPECT_EQ(lwrb_peek(ring, 0, out, 2), 0u);
        EXPECT_EQ(lwrb_skip(ring, 1), 0u);
        EXPECT_EQ(lwrb_advance(ring, 1), 0u);
        EXPECT_EQ(lwrb_get_free(ring), 0u);
        EXPECT_EQ(lwrb_get_full(ring), 0u);
        EXPECT_EQ(lwrb_get_linear_block_read_address(ring), nullptr);
        EXPECT_EQ(lwrb_get_linear_block_read_length(ring), 0u);
        EXPECT_EQ(lwrb_get_linear_block_write_address(ring), nullptr);
        EXPECT_EQ(lwrb_get_linear_block_write_length(ring), 0u);
        lwrb_reset(ring);
        lwrb_set_evt_fn(ring, nullptr);
        lwrb_free(ring);
        EXPECT_EQ(r.ring.read_index, read_index) << damage;
        EXPECT_EQ(r.ring.write_index, write_index) << damage;
        EXPECT_EQ(r.ring.event_fn, &record_event) << damage;
        EXPECT_TRUE(r.events.empty()) << damage;
    }
}

TEST(RingBuffer, FreeLeavesTheStorageToTheCaller) {
    Ring r(8);
    ASSERT_EQ(r.write("abc"), 3u);
    lwrb_free(&r.ring);
    EXPECT_EQ(r.ring.buffer, nullptr);
    EXPECT_EQ(std::string(r.storage.begin(), r.storage.begin() + 3), "abc");
    // The storage can be handed to a ring again.
    EXPECT_EQ(lwrb_init(&r.ring, r.storage.data(), r.storage.size()), 1);
    EXPECT_EQ(lwrb_get_full(&r.ring), 0u);
}

} // namespace
