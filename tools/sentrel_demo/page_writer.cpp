#include "tools/sentrel_demo/page_writer.h"

#include <cstring>

namespace demo {

namespace {

template <typename T> void store(std::vector<uint8_t> &b, size_t at, T v) {
    std::memcpy(b.data() + at, &v, sizeof v);
}

} // namespace

void PageWriter::begin() {
    bytes_.assign(VEM_DATA_PAGE_HEADER_SIZE, 0);
    bytes_[0] = 1; // version
    bytes_[1] = 7; // revision
    std::memcpy(bytes_.data() + 64, source_.data(), std::min<size_t>(source_.size(), 63));
    std::memcpy(bytes_.data() + 128, tag_.data(), std::min<size_t>(tag_.size(), 15));
}

void PageWriter::schemas(uint16_t length) {
    size_t at = bytes_.size();
    bytes_.resize(at + length, 0);
    const char magic[4] = {'V', 'E', 'M', 'S'};
    std::memcpy(bytes_.data() + at, magic, 4);
    store(bytes_, at + 4, length);
}

void PageWriter::events_block(uint16_t type_index, uint8_t count) {
    size_t at = bytes_.size();
    bytes_.resize(at + VEM_DATA_BLOCK_HEADER_SIZE, 0);
    const char magic[4] = {'V', 'E', 'M', 'E'};
    std::memcpy(bytes_.data() + at, magic, 4);
    bytes_[at + 12] = 0; // schema index
    store(bytes_, at + 13, type_index);
    bytes_[at + 15] = count;
}

void PageWriter::opaque(size_t record_size, uint8_t type, uint32_t offset, uint32_t id,
                        const vem_app_id_t &app, uint64_t value1, const uint8_t *data,
                        uint32_t size) {
    size_t at = bytes_.size();
    bytes_.resize(at + record_size, 0);
    bytes_[at + 8] = type;
    store(bytes_, at + 9, offset);
    store(bytes_, at + 13, id);
    std::memcpy(bytes_.data() + at + 17, app.bytes, 16);
    store(bytes_, at + 33, value1);
    store(bytes_, at + 41, uint64_t{0});
    store(bytes_, at + 49, size);
    if (size)
        std::memcpy(bytes_.data() + at + VEM_OPAQUE_EVENT_HEADER_SIZE, data, size);
}

void PageWriter::plain_record(size_t record_size, uint64_t seed) {
    size_t at = bytes_.size();
    bytes_.resize(at + record_size, 0);
    for (size_t i = 0; i < record_size; ++i)
        bytes_[at + i] = static_cast<uint8_t>(seed + i * 31);
}

const vem_data_page_t *PageWriter::finish() {
    store(bytes_, 8, static_cast<uint64_t>(bytes_.size()));
    store(bytes_, 16, static_cast<uint64_t>(bytes_.size()));
    return reinterpret_cast<const vem_data_page_t *>(bytes_.data());
}

} // namespace demo
