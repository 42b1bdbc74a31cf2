// A simulated family B device: binary packets on port 65280.
//
// Requests are checked as a device checks them: exact length (36 bytes, or
// 158 for a settings write), CRC-16 low byte first over all bytes before it,
// the 0xFF marker where the request carries one, and the device's own
// identifier (XOR 0xC5) where the request names a device. A request that
// fails a check of its form (length, CRC, marker, opcode, or a family code
// other than 16 in a write) is dropped without an answer and counted in
// rejected(); one that names another device is dropped without counting.
//
// Answers:
//   search (1)               158-byte settings packet, opcode 1
//   login (15, 17)           36 bytes, opcode 17 when the password matches,
//                            18 when it does not
//   logout (19, 21)          nothing; the device is logged out
//   read (11, 13)            158-byte settings packet, opcode 11
//   write (5)                36 bytes, opcode 5; the record is kept pending
//   write confirmation (7)   36 bytes, opcode 7; the pending record is applied
//   serial block (9)         36 bytes, opcode 9; fields not all ones applied
//                            (taken only when sent to the device's address)
//   family A probe "X"       "Q7" and the device name, on port 65535
// Every family B answer echoes the request's byte 7 (the sequence byte).
//
// A device of another family that speaks this protocol with other constants
// (family_wire: its code, port and answer to the probe) is a device_b too.
// Reads and writes are answered whether or not the device is logged in;
// tests assert the order of requests from the trace and logged_in().
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "families.h"
#include "lan.h"

namespace kxsim {

constexpr uint16_t family_b_port = 65280;

using ipv4_bytes = std::array<uint8_t, 4>;

// The device's settings, field by field, as its settings packet carries them
// (ports and 16-bit values as numbers, texts as raw fixed-width bytes).
struct settings_b {
    device_id_bytes id{};
    std::array<uint8_t, 10> name{};
    std::array<uint8_t, 16> firmware{};
    ipv4_bytes ip{};
    ipv4_bytes mask{};
    ipv4_bytes gateway{};
    uint16_t local_port = 0;
    uint8_t rm = 0;
    uint8_t dhcp = 0;
    ipv4_bytes dest_ip{};
    uint16_t dest_port = 0;
    uint8_t tp = 0;
    uint8_t ww = 0;
    uint8_t dd = 0;
    ipv4_bytes li{};
    ipv4_bytes li2{};
    std::array<uint8_t, 30> dw_text{};
    uint16_t ml = 0;
    uint8_t md = 0;
    uint8_t keep_alive = 0;
    uint16_t baud_hundreds = 0;
    uint8_t data_bits = 0;
    uint8_t parity = 0;
    uint8_t stop_bits = 0;
    uint8_t flow = 0;
    std::array<uint8_t, 10> on_text{};
    std::array<uint8_t, 10> password{};

    bool operator==(const settings_b &) const = default;
};

// Dotted text to 4 bytes, first octet first (all zero if it is not an address).
ipv4_bytes ipv4(const std::string &dotted);

// A text into a fixed-width field, cut to N bytes and padded with NULs.
template <size_t N>
std::array<uint8_t, N> text_field(const std::string &text) {
    std::array<uint8_t, N> field{};
    for (size_t i = 0; i < N && i < text.size(); ++i) field[i] = static_cast<uint8_t>(text[i]);
    return field;
}

// The device's own packet encoding, for tests that build strays and
// replacement answers. Every packet leaves these with a valid CRC.
namespace packet_b {
constexpr size_t short_size = 36;
constexpr size_t settings_size = 158;
constexpr uint8_t scramble_key = 0xC5;
constexpr uint8_t family_code = 16;

// CRC-16 of all bytes but the last two, stored there low byte first.
void seal(bytes &packet);
// True when the packet is at least 2 bytes long and its last two bytes
// hold the CRC of the rest, low byte first.
bool sealed(const bytes &packet);

// A 36-byte answer: opcode, sequence byte at 7, the identifier scrambled
// at 12..17.
bytes short_answer(uint8_t opcode, uint8_t sequence, const device_id_bytes &id = {});
// A 158-byte settings packet: opcode at 8, family at 9, the settings
// scrambled at 12..155, sequence byte at 7.
bytes settings_packet(const settings_b &s, uint8_t opcode, uint8_t sequence,
                      uint8_t family = family_code);
// The settings carried by a settings packet of at least 156 bytes (its CRC
// is not checked here); nothing for a shorter one.
std::optional<settings_b> decode_settings(const bytes &packet);
}  // namespace packet_b

inline constexpr family_wire wire_b{packet_b::family_code, family_b_port, "Q7"};

class device_b : public device {
  public:
    // A device at address with identifier id, the given name, and plausible
    // defaults for every other setting (ip is the address; firmware "B-2.03";
    // 9600 baud, 8 data bits, parity 0, 1 stop bit; no password).
    device_b(std::string address, device_id_bytes id, std::string name = "SIM-B",
             const family_wire &wire = wire_b);

    std::vector<answer> handle(const datagram &request) override;

    // Copies of the state, taken under the device lock.
    settings_b settings() const;
    void set_settings(const settings_b &s);
    // The password a login must present: its 10 bytes at 24..33 must equal
    // the text padded with NULs to 10 bytes.
    void set_password(const std::string &password);
    bool logged_in() const;
    // Write confirmations addressed to this device (with or without a
    // pending write), and writes applied by them.
    int confirmations() const;
    int writes_applied() const;
    // The record of the last write not yet confirmed.
    std::optional<settings_b> pending_write() const;
    // The 6 bytes at 18..23 of the last serial-line request, and how many
    // have arrived.
    std::array<uint8_t, 6> last_serial_block() const;
    int serial_blocks() const;
    // Family B requests dropped for their form (see the top of this file).
    int rejected() const;

    // Faults of the protocol itself, on top of device::inject.
    // Settings replies (search and read) carry this family code at byte 9
    // rather than the device's own.
    void reply_family(uint8_t family);
    // Answers to requests with request_opcode carry reply_opcode.
    void reply_opcode(uint8_t request_opcode, uint8_t reply_opcode);
    // Answers carry a sequence byte other than the request's.
    void foreign_sequence(bool on);

  private:
    std::vector<answer> handle_b(const bytes &request, bool broadcast);  // under the lock
    uint8_t answer_opcode(uint8_t request_opcode, uint8_t normal) const;
    uint8_t answer_sequence(const bytes &request) const;
    bool names_me(const bytes &request) const;

    family_wire wire_;
    settings_b settings_;
    bool logged_in_ = false;
    int confirmations_ = 0;
    int writes_applied_ = 0;
    std::optional<settings_b> pending_;
    std::array<uint8_t, 6> last_serial_block_{};
    int serial_blocks_ = 0;
    int rejected_ = 0;
    uint8_t reply_family_;
    std::map<uint8_t, uint8_t> reply_opcodes_;
    bool foreign_sequence_ = false;
};

}  // namespace kxsim
