#include "engine/core/chunks.h"

#include <unistd.h>

#include <utility>

namespace engine {

SealedChunk::SealedChunk(InputBuffer *owner, std::string tag, std::string data, size_t records)
    : owner_(owner), tag_(std::move(tag)), data_(std::move(data)), records_(records) {}

SealedChunk::~SealedChunk() {
    if (owner_)
        owner_->release(data_.size());
}

void InputBuffer::commit(const std::string &tag, size_t bytes, size_t records) {
    auto it = open_.find(tag);
    if (it == open_.end())
        return;
    it->second.records += records;
    buffered_.fetch_add(bytes, std::memory_order_acq_rel);
    if (it->second.data.size() >= kChunkSize)
        seal(tag, it->second);
}

void InputBuffer::seal(const std::string &tag, Open &open) {
    sealed_.push_back(
        std::make_shared<const SealedChunk>(this, tag, std::move(open.data), open.records));
    open.data = std::string();
    open.records = 0;
}

std::vector<ChunkRef> InputBuffer::take_sealed() {
    for (auto &[tag, open] : open_)
        if (open.records > 0)
            seal(tag, open);
    std::vector<ChunkRef> out;
    out.swap(sealed_);
    return out;
}

void InputBuffer::release(size_t bytes) {
    buffered_.fetch_sub(bytes, std::memory_order_acq_rel);
    uint64_t one = 1;
    if (wake_fd_ >= 0 && write(wake_fd_, &one, sizeof one) < 0) {
        // The counter of an eventfd only saturates; the loop wakes all the same.
    }
}

} // namespace engine
