// Memory chunks of one input: open chunks that decoders append to (event loop thread
// only), sealed chunks shared by the outputs that route them, and the byte budget that
// back-pressure reads.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/output_api.h"

namespace engine {

class InputBuffer;

// Records of one tag on their way to the outputs; immutable once sealed. The last
// reference gives the bytes back to the input's budget, on whichever thread drops it.
class SealedChunk {
  public:
    SealedChunk(InputBuffer *owner, std::string tag, std::string data, size_t records);
    ~SealedChunk();
    SealedChunk(const SealedChunk &) = delete;
    SealedChunk &operator=(const SealedChunk &) = delete;

    Chunk view() const { return {tag_.data(), tag_.size(), data_.data(), data_.size(), records_}; }
    const std::string &tag() const { return tag_; }
    size_t records() const { return records_; }

  private:
    InputBuffer *owner_;
    std::string tag_;
    std::string data_;
    size_t records_;
};

using ChunkRef = std::shared_ptr<const SealedChunk>;

class InputBuffer {
  public:
    // wake_fd: an eventfd written whenever bytes are released, so that the event loop
    // can resume a paused input.
    InputBuffer(uint64_t limit, int wake_fd) : limit_(limit), wake_fd_(wake_fd) {}

    // The open chunk of tag. A fresh chunk reserves its full size at once: growing it by
    // doubling would copy and fault in every byte again at each step. Pages that are never
    // written cost nothing.
    std::string &open(const std::string &tag) {
        std::string &data = open_[tag].data;
        if (data.capacity() < kChunkSize)
            data.reserve(kChunkSize + kChunkSize / 8);
        return data;
    }
    // Accounts bytes appended to the open chunk of tag; a chunk that has grown past the
    // chunk size is sealed at once and waits for the next flush.
    void commit(const std::string &tag, size_t bytes, size_t records);
    // Seals every non-empty chunk and hands out everything sealed since the last call.
    std::vector<ChunkRef> take_sealed();

    bool over_limit() const { return buffered_.load(std::memory_order_acquire) >= limit_; }
    uint64_t buffered() const { return buffered_.load(std::memory_order_acquire); }
    void release(size_t bytes);

    static constexpr size_t kChunkSize = 2u << 20;

  private:
    struct Open {
        std::string data;
        size_t records = 0;
    };
    void seal(const std::string &tag, Open &open);

    uint64_t limit_;
    int wake_fd_;
    std::atomic<uint64_t> buffered_{0};
    std::map<std::string, Open> open_;
    std::vector<ChunkRef> sealed_;
};

} // namespace engine
