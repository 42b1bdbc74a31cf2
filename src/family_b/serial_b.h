// Family B serial-line quick settings: one 6-byte block (opcode 9, sent in
// clear at bytes 18..23) in which only the changed parameter carries a value.
#pragma once

#include <array>
#include <cstdint>

#include "frame/family.h"

namespace kx {

// Serial-line block: baud/100 (little-endian), data bits, 0xFF, parity, 0xFF;
// 0xFF in whatever the call does not set.
using serial_block = std::array<uint8_t, 6>;
int32_t send_serial_block_b(const family_ops &family, const char *ip_text,
                            const serial_block &block);

// The family table's operations (frame/family.h), behind the kxb_setting_
// functions.
int32_t set_baud_b(const family_ops &family, const char *ip_text, uint32_t baud_rate);
int32_t set_parity_b(const family_ops &family, const char *ip_text, uint32_t parity);
int32_t set_data_bits_b(const family_ops &family, const char *ip_text, uint32_t data_bits);

}  // namespace kx
