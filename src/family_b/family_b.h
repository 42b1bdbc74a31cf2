// Family B internals: the packet layout, scrambling, the sequence byte, the
// settings record codec and the exchanges behind the exported functions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "frame/exchange.h"
#include "kxconf.h"

namespace kx {

// Every request but the settings write is a short packet; the write and the
// replies to search and read are settings packets.
constexpr size_t short_packet_size = 36;
constexpr size_t settings_packet_size = 158;
// What pack_settings_b reports: the record image from packet byte 8 on.
constexpr int settings_image_size = 148;
// Bytes 7 and 8 and a CRC: the least a login or read reply must carry.
constexpr int min_sequenced_reply = 10;

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

// The pseudo-random step of the Windows C runtime (srand/rand). Devices
// expect the sequence byte that generator gives, so it is reproduced here
// rather than called: the host's own rand() sequence stays untouched and
// every platform sends the same byte.
struct crt_random {
    uint32_t state;
    constexpr int next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
};

// Low 8 bits of the first draw after seeding with 250.
constexpr uint8_t sequence_byte_b() {
    crt_random generator{250};
    return static_cast<uint8_t>(generator.next() & 0xFF);
}
static_assert(sequence_byte_b() == 0x57);

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

// Login and read take the first datagram that echoes the sequence byte; one
// too short to carry bytes 7 and 8 and a CRC counts as another's.
inline bool echoes_sequence_b(std::span<const uint8_t> reply) {
    return reply.size() >= min_sequenced_reply && reply[packet_at::sequence] == sequence_byte_b();
}
// The same, as the filter of an exchange.
inline bool received_echo_b(const exchange &ex) { return echoes_sequence_b(received_bytes(ex)); }

// Record to packet: writes every payload field at its packet offset (ports
// big-endian, ml_value and baud_hundreds little-endian), zero in the reserved
// payload bytes, and scrambles bytes 12..155. Returns 148, or 0 (nothing
// written) when the record's family is not 16 or packet is under 156 bytes.
int pack_settings_b(const kxb_settings_record &record, std::span<uint8_t> packet);
// Packet to record: when packet byte 9 is 16 and the packet holds at least
// 156 bytes, sets family and every named field (unscrambled as it is read,
// ports to host order) and returns true. Otherwise touches nothing and
// returns false. The packet is never changed and reserved record bytes are
// never written. The caller checks the CRC first.
bool unpack_settings_b(std::span<const uint8_t> packet, kxb_settings_record &record);

// The discovery fields of a device record from a decoded settings record;
// every other byte of the device record is left as it was.
void fill_device_record_b(const kxb_settings_record &settings, kx_device_record &device);

// The search request: marker, opcode 1 and the CRC, nothing else.
short_packet search_request_b();

// Reply verdicts, from the received bytes alone, each with its result code.
enum class login_reply { accepted, refused, bad_crc };
login_reply judge_login_reply_b(std::span<const uint8_t> reply);
int32_t result_of(login_reply verdict);

// A search reply is decoded only when whole (158 bytes) with a good CRC, and
// fills the record only when of family B.
enum class search_reply { device, damaged, other_family };
search_reply judge_search_reply_b(std::span<const uint8_t> reply, kxb_settings_record &record);
int32_t result_of(search_reply verdict);

// A read reply must carry opcode 11, be whole (158 bytes) with a good CRC
// and be of family B; only then (settings) is the record filled.
enum class read_reply { settings, wrong_opcode, damaged, other_family };
read_reply judge_read_reply_b(std::span<const uint8_t> reply, kxb_settings_record &record);
int32_t result_of(read_reply verdict);

// The write answer needs a good CRC; the serial-block answer also 36 bytes.
enum class short_reply { answered, damaged };
short_reply judge_write_reply_b(std::span<const uint8_t> reply);
short_reply judge_serial_reply_b(std::span<const uint8_t> reply);
int32_t result_of(short_reply verdict);

// Sends the logout request; 1, or -1 when the socket cannot be prepared.
int32_t logout_b(const char *ip_text, const uint8_t (&device_id)[6]);
// What login and read do when they give up on a device: their own exchange
// is already closed, so the logout can bind the local port and leave.
void give_up_b(const char *ip_text, const uint8_t (&device_id)[6]);
// Login and read: sends the request on the open exchange, takes the first
// datagram that echoes the sequence byte and closes the exchange. KX_OK with
// the reply in ex; without one it gives up on the device and returns
// KX_E_TIMEOUT, or KX_E_SOCKET when the receive failed.
int32_t sequenced_exchange_b(exchange &ex, std::span<const uint8_t> request, const char *ip_text,
                             const uint8_t (&device_id)[6]);

int32_t read_settings_b(const char *ip_text, const uint8_t (&device_id)[6],
                        kxb_settings_record &record);
// The identifier sent is the record's own.
int32_t write_settings_b(const char *ip_text, const kxb_settings_record &record);

// Serial-line block: baud/100 (little-endian), data bits, 0xFF, parity, 0xFF;
// 0xFF in whatever the call does not set.
using serial_block = std::array<uint8_t, 6>;
int32_t send_serial_block_b(const char *ip_text, const serial_block &block);

}  // namespace kx
