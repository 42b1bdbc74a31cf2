// Family B packets: CRC sealing and checking, scrambling, and the settings
// payload, which lies in a settings packet at the record's offsets plus 8.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "family_b/family_b.h"
#include "frame/bytes.h"
#include "frame/convert.h"

namespace kx {

namespace {

// Packet offsets of the payload fields (before scrambling).
namespace field_at {
constexpr size_t device_id = 12;
constexpr size_t device_name = 20;
constexpr size_t firmware_version = 36;
constexpr size_t ip_address = 52;
constexpr size_t subnet_mask = 56;
constexpr size_t gateway = 60;
constexpr size_t local_port = 64;  // big-endian
constexpr size_t rm_value = 66;
constexpr size_t dhcp_enabled = 67;
constexpr size_t dest_ip = 68;
constexpr size_t dest_port = 72;  // big-endian
constexpr size_t tp_value = 74;
constexpr size_t ww_flag = 75;
constexpr size_t dd_flag = 76;
constexpr size_t li_address = 80;
constexpr size_t li_address_2 = 84;
constexpr size_t dw_text = 88;
constexpr size_t ml_value = 124;  // little-endian
constexpr size_t md_value = 126;
constexpr size_t keep_alive = 127;
constexpr size_t baud_hundreds = 128;  // little-endian
constexpr size_t data_bits = 132;
constexpr size_t parity = 133;
constexpr size_t stop_bits = 134;
constexpr size_t flow_control = 135;
constexpr size_t on_text = 136;
constexpr size_t password = 146;
}  // namespace field_at

// The record is the packet image from byte 8 on: a field that drifts from
// its record offset must stop the build.
#define KX_IMAGE(field) \
    static_assert(offsetof(kxb_settings_record, field) + 8 == field_at::field, #field)
KX_IMAGE(device_id);
KX_IMAGE(device_name);
KX_IMAGE(firmware_version);
KX_IMAGE(ip_address);
KX_IMAGE(subnet_mask);
KX_IMAGE(gateway);
KX_IMAGE(local_port);
KX_IMAGE(rm_value);
KX_IMAGE(dhcp_enabled);
KX_IMAGE(dest_ip);
KX_IMAGE(dest_port);
KX_IMAGE(tp_value);
KX_IMAGE(ww_flag);
KX_IMAGE(dd_flag);
KX_IMAGE(li_address);
KX_IMAGE(li_address_2);
KX_IMAGE(dw_text);
KX_IMAGE(ml_value);
KX_IMAGE(md_value);
KX_IMAGE(keep_alive);
KX_IMAGE(baud_hundreds);
KX_IMAGE(data_bits);
KX_IMAGE(parity);
KX_IMAGE(stop_bits);
KX_IMAGE(flow_control);
KX_IMAGE(on_text);
KX_IMAGE(password);
#undef KX_IMAGE
static_assert(sizeof(kxb_settings_record) + 8 == packet_at::payload_end);

constexpr size_t payload_size = packet_at::payload_end - packet_at::payload;

// Payload reads undo the scrambling as they go; the packet stays as received.
uint8_t clear_u8(std::span<const uint8_t> packet, size_t at) {
    return static_cast<uint8_t>(get_u8(packet, at) ^ scramble_key);
}

constexpr uint16_t scramble_key_16 = scramble_key * 0x101u;

uint16_t clear_le16(std::span<const uint8_t> packet, size_t at) {
    return static_cast<uint16_t>(get_le16(packet, at) ^ scramble_key_16);
}

uint16_t clear_be16(std::span<const uint8_t> packet, size_t at) {
    return static_cast<uint16_t>(get_be16(packet, at) ^ scramble_key_16);
}

template <typename Byte, size_t N>
void clear_bytes(std::span<const uint8_t> packet, size_t at, Byte (&field)[N]) {
    if (!fits(packet.size(), at, N)) return;
    get_bytes(packet, at, field);
    for (Byte &b : field) b = static_cast<Byte>(b ^ scramble_key);
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

bool settings_reply_ok_b(exchange &ex) {
    return ex.received >= static_cast<int>(settings_packet_size) &&
           crc_matches_b(received_bytes(ex));
}

int pack_settings_b(const kxb_settings_record &record, std::span<uint8_t> packet) {
    if (record.family != KX_FAMILY_B || packet.size() < packet_at::payload_end) return 0;
    std::fill_n(packet.begin() + packet_at::payload, payload_size, uint8_t{0});
    put_bytes(packet, field_at::device_id, record.device_id);
    put_bytes(packet, field_at::device_name, record.device_name);
    put_bytes(packet, field_at::firmware_version, record.firmware_version);
    put_bytes(packet, field_at::ip_address, record.ip_address);
    put_bytes(packet, field_at::subnet_mask, record.subnet_mask);
    put_bytes(packet, field_at::gateway, record.gateway);
    put_be16(packet, field_at::local_port, record.local_port);
    put_u8(packet, field_at::rm_value, record.rm_value);
    put_u8(packet, field_at::dhcp_enabled, record.dhcp_enabled);
    put_bytes(packet, field_at::dest_ip, record.dest_ip);
    put_be16(packet, field_at::dest_port, record.dest_port);
    put_u8(packet, field_at::tp_value, record.tp_value);
    put_u8(packet, field_at::ww_flag, record.ww_flag);
    put_u8(packet, field_at::dd_flag, record.dd_flag);
    put_bytes(packet, field_at::li_address, record.li_address);
    put_bytes(packet, field_at::li_address_2, record.li_address_2);
    put_bytes(packet, field_at::dw_text, record.dw_text);
    put_le16(packet, field_at::ml_value, record.ml_value);
    put_u8(packet, field_at::md_value, record.md_value);
    put_u8(packet, field_at::keep_alive, record.keep_alive);
    put_le16(packet, field_at::baud_hundreds, record.baud_hundreds);
    put_u8(packet, field_at::data_bits, record.data_bits);
    put_u8(packet, field_at::parity, record.parity);
    put_u8(packet, field_at::stop_bits, record.stop_bits);
    put_u8(packet, field_at::flow_control, record.flow_control);
    put_bytes(packet, field_at::on_text, record.on_text);
    put_bytes(packet, field_at::password, record.password);
    scramble_b(packet.subspan(packet_at::payload, payload_size));
    return settings_image_size;
}

bool unpack_settings_b(std::span<const uint8_t> packet, kxb_settings_record &record) {
    if (packet.size() < packet_at::payload_end || packet[packet_at::family] != KX_FAMILY_B)
        return false;
    record.family = packet[packet_at::family];
    clear_bytes(packet, field_at::device_id, record.device_id);
    clear_bytes(packet, field_at::device_name, record.device_name);
    clear_bytes(packet, field_at::firmware_version, record.firmware_version);
    clear_bytes(packet, field_at::ip_address, record.ip_address);
    clear_bytes(packet, field_at::subnet_mask, record.subnet_mask);
    clear_bytes(packet, field_at::gateway, record.gateway);
    record.local_port = clear_be16(packet, field_at::local_port);
    record.rm_value = clear_u8(packet, field_at::rm_value);
    record.dhcp_enabled = clear_u8(packet, field_at::dhcp_enabled);
    clear_bytes(packet, field_at::dest_ip, record.dest_ip);
    record.dest_port = clear_be16(packet, field_at::dest_port);
    record.tp_value = clear_u8(packet, field_at::tp_value);
    record.ww_flag = clear_u8(packet, field_at::ww_flag);
    record.dd_flag = clear_u8(packet, field_at::dd_flag);
    clear_bytes(packet, field_at::li_address, record.li_address);
    clear_bytes(packet, field_at::li_address_2, record.li_address_2);
    clear_bytes(packet, field_at::dw_text, record.dw_text);
    record.ml_value = clear_le16(packet, field_at::ml_value);
    record.md_value = clear_u8(packet, field_at::md_value);
    record.keep_alive = clear_u8(packet, field_at::keep_alive);
    record.baud_hundreds = clear_le16(packet, field_at::baud_hundreds);
    record.data_bits = clear_u8(packet, field_at::data_bits);
    record.parity = clear_u8(packet, field_at::parity);
    record.stop_bits = clear_u8(packet, field_at::stop_bits);
    record.flow_control = clear_u8(packet, field_at::flow_control);
    clear_bytes(packet, field_at::on_text, record.on_text);
    clear_bytes(packet, field_at::password, record.password);
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
