// Writes data pages as the host hands them over: a 720-byte header, then blocks back to
// back (a schemas block, events blocks of opaque events and of other records).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "events/vem_data_page.h"
#include "events/vem_opaque_events.h"

namespace demo {

class PageWriter {
  public:
    PageWriter(std::string source, std::string tag)
        : source_(std::move(source)), tag_(std::move(tag)) {}

    void begin();
    // A schemas block of the host's own content; the plug-in only hands it back.
    void schemas(uint16_t length);
    // An events block header for `count` records of `record_size` bytes.
    void events_block(uint16_t type_index, uint8_t count);
    // One opaque event record padded to record_size.
    void opaque(size_t record_size, uint8_t type, uint32_t offset, uint32_t id,
                const vem_app_id_t &app, uint64_t value1, const uint8_t *data, uint32_t size);
    // A record of another type: opaque bytes of the host.
    void plain_record(size_t record_size, uint64_t seed);
    // Completes the header; the page stays valid until the next begin().
    const vem_data_page_t *finish();
    size_t size() const { return bytes_.size(); }

  private:
    std::string source_, tag_;
    std::vector<uint8_t> bytes_;
};

} // namespace demo
