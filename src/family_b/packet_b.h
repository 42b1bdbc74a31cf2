// Family B packets: the two shapes and their header, scrambling, the CRC-16,
// and the settings record's image in a settings packet.
//
// The family code that a packet must carry is family B's unless another
// family speaks the protocol with a code of its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "kxconf.h"

namespace kx {

// Every request but the settings write is a short packet; the write and the
// replies to search and read are settings packets.
constexpr size_t short_packet_size = 36;
constexpr size_t settings_packet_size = 158;
// What pack_settings_b reports: the record image from packet byte 8 on.
constexpr int settings_image_size = 148;

using short_packet = std::array<uint8_t, short_packet_size>;
using settings_packet = std::array<uint8_t, settings_packet_size>;

// Header bytes, both shapes.
namespace packet_at {
constexpr size_t marker = 0;
constexpr size_t sequence = 7;
constexpr size_t opcode = 8;
constexpr size_t family = 9;
constexpr size_t device_id = 12;     // scrambled
constexpr size_t serial_block = 18;  // short packet, opcode 9
constexpr size_t password = 24;      // short packet, login
constexpr size_t payload = 12;       // settings packet, scrambled as a whole
constexpr size_t payload_end = 156;  // where the settings packet's CRC lies
}  // namespace packet_at

constexpr uint8_t request_marker = 0xFF;
constexpr uint8_t scramble_key = 0xC5;

namespace opcode_b {
constexpr uint8_t search = 1;
constexpr uint8_t write_settings = 5;
constexpr uint8_t write_confirmation = 7;
constexpr uint8_t serial_settings = 9;
constexpr uint8_t read_unicast = 11;
constexpr uint8_t read_broadcast = 13;
constexpr uint8_t read_reply = 11;
constexpr uint8_t login_broadcast = 15;
constexpr uint8_t login_unicast = 17;
constexpr uint8_t login_accepted = 17;
constexpr uint8_t logout_broadcast = 19;
constexpr uint8_t logout_unicast = 21;
}  // namespace opcode_b

// XOR 0xC5 on every byte; applying it twice restores the bytes.
void scramble_b(std::span<uint8_t> region);

// A zeroed short request with its opcode, and the marker when the operation
// assigns one.
enum class marker { none, request };
short_packet short_request_b(uint8_t opcode, marker with);
// Copies the identifier to bytes 12..17 and scrambles it there.
void put_device_id_b(std::span<uint8_t> packet, const uint8_t (&device_id)[6]);
// Stores the CRC of all bytes but the last two in those two, low byte first.
// Every other byte must hold its final value first.
void seal_packet_b(std::span<uint8_t> packet);
// A datagram of at least 2 bytes whose last two (low first) are the CRC of
// the rest.
bool crc_matches_b(std::span<const uint8_t> datagram);

// Record to packet: writes every payload field at its packet offset (ports
// big-endian, ml_value and baud_hundreds little-endian), zero in the reserved
// payload bytes, and scrambles bytes 12..155. Returns 148, or 0 (nothing
// written) when the record's family is not code or packet is under 156
// bytes.
int pack_settings_b(const kxb_settings_record &record, std::span<uint8_t> packet,
                    uint8_t code = KX_FAMILY_B);
// Packet to record: when packet byte 9 is code and the packet holds at least
// 156 bytes, sets family and every named field (unscrambled as it is read,
// ports to host order) and returns true. Otherwise touches nothing and
// returns false. The packet is never changed and reserved record bytes are
// never written. The caller checks the CRC first.
bool unpack_settings_b(std::span<const uint8_t> packet, kxb_settings_record &record,
                       uint8_t code = KX_FAMILY_B);

// The discovery fields of a device record from a decoded settings record;
// every other byte of the device record is left as it was.
void fill_device_record_b(const kxb_settings_record &settings, kx_device_record &device);

}  // namespace kx
