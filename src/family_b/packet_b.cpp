// Family B packets: CRC sealing and checking, scrambling, and the settings
// payload, which lies in a settings packet at the record's offsets plus 8.
#include "family_b/packet_b.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "frame/bytes.h"
#include "frame/convert.h"

namespace kx {

namespace {

// The settings packet carries the record from byte 8 on: a record field at
// offset n lies at packet byte n + 8 (the record's offsets are pinned).
constexpr size_t image_start = 8;
static_assert(sizeof(kxb_settings_record) + image_start == packet_at::payload_end);

constexpr size_t payload_size = packet_at::payload_end - packet_at::payload;

// How a field's bytes are held: in the record (numbers in host order) or on
// the wire.
enum class order : uint8_t { bytes, host16, be16, le16 };

struct wire_field {
    uint16_t record_at;
    uint8_t width;
    order wire;
};

#define KXB_WIRE(field, wire_order)                                                     \
    wire_field {                                                                        \
        static_cast<uint16_t>(offsetof(kxb_settings_record, field)),                    \
            static_cast<uint8_t>(sizeof(kxb_settings_record::field)), order::wire_order \
    }
// Every field of the payload; the bytes between them are reserved.
// clang-format off
constexpr wire_field fields_b[] = {
    KXB_WIRE(device_id, bytes),
    KXB_WIRE(device_name, bytes),
    KXB_WIRE(firmware_version, bytes),
    KXB_WIRE(ip_address, bytes),
    KXB_WIRE(subnet_mask, bytes),
    KXB_WIRE(gateway, bytes),
    KXB_WIRE(local_port, be16),
    KXB_WIRE(rm_value, bytes),
    KXB_WIRE(dhcp_enabled, bytes),
    KXB_WIRE(dest_ip, bytes),
    KXB_WIRE(dest_port, be16),
    KXB_WIRE(tp_value, bytes),
    KXB_WIRE(ww_flag, bytes),
    KXB_WIRE(dd_flag, bytes),
    KXB_WIRE(li_address, bytes),
    KXB_WIRE(li_address_2, bytes),
    KXB_WIRE(dw_text, bytes),
    KXB_WIRE(ml_value, le16),
    KXB_WIRE(md_value, bytes),
    KXB_WIRE(keep_alive, bytes),
    KXB_WIRE(baud_hundreds, le16),
    KXB_WIRE(data_bits, bytes),
    KXB_WIRE(parity, bytes),
    KXB_WIRE(stop_bits, bytes),
    KXB_WIRE(flow_control, bytes),
    KXB_WIRE(on_text, bytes),
    KXB_WIRE(password, bytes),
};
// clang-format on
#undef KXB_WIRE

static_assert(std::all_of(std::begin(fields_b), std::end(fields_b), [](const wire_field &f) {
    return f.record_at + image_start >= packet_at::payload &&
           (f.wire == order::bytes || f.width == 2);
}));

constexpr uint16_t scramble_key_16 = scramble_key * 0x101u;

uint16_t load16(order held, std::span<const uint8_t> from, size_t at) {
    if (held == order::be16) return get_be16(from, at);
    if (held == order::le16) return get_le16(from, at);
    uint16_t value = 0;
    if (fits(from.size(), at, 2)) std::memcpy(&value, from.data() + at, 2);
    return value;
}

void store16(order held, std::span<uint8_t> to, size_t at, uint16_t value) {
    if (held == order::be16) return put_be16(to, at, value);
    if (held == order::le16) return put_le16(to, at, value);
    if (fits(to.size(), at, 2)) std::memcpy(to.data() + at, &value, 2);
}

// One field from record to packet or back: the byte order changes from the
// one held to the other, and the scrambling is applied or undone (it is its
// own inverse), so the packet is unscrambled as it is read, never in place.
void move_field(const wire_field &f, std::span<const uint8_t> from, size_t from_at,
                order from_order, std::span<uint8_t> to, size_t to_at, order to_order) {
    if (f.wire != order::bytes)
        return store16(to_order, to, to_at,
                       static_cast<uint16_t>(load16(from_order, from, from_at) ^ scramble_key_16));
    if (!fits(from.size(), from_at, f.width) || !fits(to.size(), to_at, f.width)) return;
    for (size_t i = 0; i < f.width; ++i)
        to[to_at + i] = static_cast<uint8_t>(from[from_at + i] ^ scramble_key);
}

std::span<uint8_t> bytes_of(kxb_settings_record &record) {
    return {reinterpret_cast<uint8_t *>(&record), sizeof record};
}

}  // namespace

void scramble_b(std::span<uint8_t> region) {
    for (uint8_t &b : region) b ^= scramble_key;
}

short_packet short_request_b(uint8_t opcode, marker with) {
    short_packet packet{};
    if (with == marker::request) packet[packet_at::marker] = request_marker;
    packet[packet_at::opcode] = opcode;
    return packet;
}

void put_device_id_b(std::span<uint8_t> packet, const uint8_t (&device_id)[6]) {
    if (!fits(packet.size(), packet_at::device_id, 6)) return;
    put_bytes(packet, packet_at::device_id, device_id);
    scramble_b(packet.subspan(packet_at::device_id, 6));
}

void seal_packet_b(std::span<uint8_t> packet) {
    if (packet.size() < 2) return;
    const size_t covered = packet.size() - 2;
    const int32_t crc = cal_crc(packet.data(), static_cast<int32_t>(covered));
    put_le16(packet, covered, static_cast<uint16_t>(crc));
}

bool crc_matches_b(std::span<const uint8_t> datagram) {
    if (datagram.size() < 2) return false;
    const size_t covered = datagram.size() - 2;
    const int32_t crc = cal_crc(datagram.data(), static_cast<int32_t>(covered));
    return static_cast<uint16_t>(crc) == get_le16(datagram, covered);
}

int pack_settings_b(const kxb_settings_record &record, std::span<uint8_t> packet, uint8_t code) {
    if (record.family != code || packet.size() < packet_at::payload_end) return 0;
    // Reserved payload bytes go out as scrambled zeros.
    std::fill_n(packet.begin() + packet_at::payload, payload_size, scramble_key);
    const std::span<const uint8_t> image{reinterpret_cast<const uint8_t *>(&record), sizeof record};
    for (const wire_field &f : fields_b)
        move_field(f, image, f.record_at, order::host16, packet, f.record_at + image_start, f.wire);
    return settings_image_size;
}

bool unpack_settings_b(std::span<const uint8_t> packet, kxb_settings_record &record, uint8_t code) {
    if (packet.size() < packet_at::payload_end || packet[packet_at::family] != code) return false;
    record.family = packet[packet_at::family];
    for (const wire_field &f : fields_b)
        move_field(f, packet, f.record_at + image_start, f.wire, bytes_of(record), f.record_at,
                   order::host16);
    return true;
}

void fill_device_record_b(const kxb_settings_record &settings, kx_device_record &device) {
    device.family = settings.family;
    std::memcpy(device.firmware_version, settings.firmware_version, sizeof device.firmware_version);
    std::memcpy(device.device_name, settings.device_name, sizeof device.device_name);
    std::memcpy(device.device_id, settings.device_id, sizeof device.device_id);
    ip_to_text(settings.ip_address, device.ip_address);
    device.local_port = settings.local_port;
    ip_to_text(settings.dest_ip, device.dest_ip);
    ip_to_text(settings.subnet_mask, device.subnet_mask);
    ip_to_text(settings.gateway, device.gateway);
    ip_to_text(settings.li_address, device.li_address);
    ip_to_text(settings.li_address_2, device.li_address_2);
}

}  // namespace kx
