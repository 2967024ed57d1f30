// The packet sender: each complete event carries one ready NetFlow v9 export packet
// (header, one template FlowSet, one data FlowSet of equal-length records). Without a
// maximum packet size it goes out untouched; with one, its records are cut into complete
// packets of their own, numbered with the exporter's sequence counter.
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "exporter/exporter_internal.h"
#include "support/vem_log.h"

namespace {

// Packet header: Version, Count, sysUpTime, UNIX Secs, Sequence Number, Source ID.
constexpr uint32_t kHeaderSize = 20;
constexpr uint32_t kCountOffset = 2;
constexpr uint32_t kSequenceOffset = 12;
// The template FlowSet follows the header; its Length sits at 22 and its Template ID at 24.
constexpr uint32_t kTemplateLengthOffset = 22;
constexpr uint32_t kTemplateIdOffset = 24;
// FlowSet header (ID, Length) and Template ID: the least a template FlowSet can hold.
constexpr uint32_t kMinTemplateLength = 6;
constexpr uint32_t kFlowSetHeaderSize = 4;

uint16_t load_be16(const uint8_t *p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

void store_be16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void store_be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t round_up4(uint32_t v) {
    return (v + 3u) & ~3u;
}

// A datagram is all or nothing: anything but the full length is a failed send.
bool send_datagram(const vem_nf_exporter_t *e, const void *bytes, size_t length) {
    const struct addrinfo *to = e->collector;
    ssize_t sent = sendto(e->socket_fd, bytes, length, MSG_CONFIRM, to->ai_addr, to->ai_addrlen);
    return sent >= 0 && static_cast<size_t>(sent) == length;
}

// Checks that an event can be cut without reading past its payload. T is read only once
// the header and the template FlowSet header are known to be there.
bool event_can_be_cut(const uint8_t *data, uint32_t size, uint32_t record_length,
                      uint32_t record_count, uint32_t *template_length) {
    if (size < kHeaderSize + kFlowSetHeaderSize) {
        VEM_LOG(VEM_LOG_WARNING,
                "[NetFlow Exporter] Event of %u bytes is too short for a NetFlow packet", size);
        return false;
    }
    uint32_t t = load_be16(data + kTemplateLengthOffset);
    if (t < kMinTemplateLength) {
        VEM_LOG(VEM_LOG_WARNING,
                "[NetFlow Exporter] Event with an invalid template FlowSet length (%u)", t);
        return false;
    }
    if (record_length == 0) {
        VEM_LOG(VEM_LOG_WARNING,
                "[NetFlow Exporter] Event with a record length of 0 cannot be split");
        return false;
    }
    uint64_t needed =
        uint64_t{kHeaderSize} + t + kFlowSetHeaderSize + uint64_t{record_count} * record_length;
    if (size < needed) {
        VEM_LOG(VEM_LOG_WARNING,
                "[NetFlow Exporter] Event of %u bytes is too short for its template and %u records "
                "of %u bytes",
                size, record_count, record_length);
        return false;
    }
    *template_length = t;
    return true;
}

// Cuts the event's records into packets of at most max_packet_size bytes, padding
// included, so every packet fits the packet buffer.
bool send_split(vem_nf_exporter_t *e, const uint8_t *data, uint32_t size, uint32_t record_length,
                uint32_t record_count) {
    uint32_t t = 0;
    if (!event_can_be_cut(data, size, record_length, record_count, &t))
        return false;

    const uint32_t fixed = kHeaderSize + t + kFlowSetHeaderSize; // before the records
    const uint32_t needed = round_up4(fixed + record_length);    // one padded record
    const uint32_t max = e->max_packet_size;
    if (max < needed) {
        VEM_LOG(VEM_LOG_WARNING, "[NetFlow Exporter] max_packet_size is too small (%u < %u)", max,
                needed);
        return false;
    }
    // A padded length is at most max exactly when the unpadded one is at most max
    // rounded down to a multiple of 4.
    const uint32_t per_packet = ((max & ~3u) - fixed) / record_length;

    uint8_t *packet = e->packet_buffer;
    memcpy(packet, data, kHeaderSize + t);
    if (record_count == 0)
        return true;

    const uint8_t *records = data + fixed;
    uint32_t sent = 0;
    while (sent < record_count) {
        uint32_t n = record_count - sent < per_packet ? record_count - sent : per_packet;
        store_be16(packet + kCountOffset, n + 1); // the records and the template record
        store_be32(packet + kSequenceOffset, e->sequence_number);
        e->sequence_number++; // used up even when the send below fails

        uint32_t body = n * record_length;
        uint32_t length = fixed + body;
        uint32_t padding = round_up4(length) - length;
        uint8_t *flowset = packet + kHeaderSize + t;
        memcpy(flowset, data + kTemplateIdOffset, 2); // the data FlowSet ID is the Template ID
        store_be16(flowset + 2, kFlowSetHeaderSize + body + padding);
        memcpy(packet + fixed, records + static_cast<size_t>(sent) * record_length, body);
        memset(packet + length, 0, padding);

        if (!send_datagram(e, packet, length + padding))
            return false;
        sent += n;
    }
    return true;
}

} // namespace

bool vem_nf_exporter_send_event(void *user_data, const char *, const char *, vem_dict_t,
                                const vem_app_id_t *, uint64_t value1, uint64_t, const void *data,
                                uint32_t size) {
    auto *e = static_cast<vem_nf_exporter_t *>(user_data);
    if (!e)
        return false;
    if (e->max_packet_size == 0)
        return send_datagram(e, data, size);
    const uint32_t record_length = static_cast<uint32_t>(value1 & 0xffffu);
    const uint32_t record_count = static_cast<uint32_t>((value1 >> 16) & 0xffffu);
    return send_split(e, static_cast<const uint8_t *>(data), size, record_length, record_count);
}
