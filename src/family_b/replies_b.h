// Family B reply verdicts, from the received bytes alone, each with its
// result code. code: the family code a settings packet must carry.
#pragma once

#include <cstdint>
#include <span>

#include "kxconf.h"

namespace kx {

enum class login_reply { accepted, refused, bad_crc };
login_reply judge_login_reply_b(std::span<const uint8_t> reply);
int32_t result_of(login_reply verdict);

// A search reply is decoded only when whole (158 bytes) with a good CRC, and
// fills the record only when of the family.
enum class search_reply { device, damaged, other_family };
search_reply judge_search_reply_b(std::span<const uint8_t> reply, kxb_settings_record &record,
                                  uint8_t code = KX_FAMILY_B);
int32_t result_of(search_reply verdict);

// A read reply must carry opcode 11, be whole (158 bytes) with a good CRC
// and be of the family; only then (settings) is the record filled.
enum class read_reply { settings, wrong_opcode, damaged, other_family };
read_reply judge_read_reply_b(std::span<const uint8_t> reply, kxb_settings_record &record,
                              uint8_t code = KX_FAMILY_B);
int32_t result_of(read_reply verdict);

// The write answer needs a good CRC; the serial-block answer also 36 bytes.
enum class short_reply { answered, damaged };
short_reply judge_write_reply_b(std::span<const uint8_t> reply);
short_reply judge_serial_reply_b(std::span<const uint8_t> reply);
int32_t result_of(short_reply verdict);

}  // namespace kx
