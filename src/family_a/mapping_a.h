// Conversions between the family A settings record and the generic settings
// record. Each writes only the fields the two records share; every other byte
// of the destination keeps what it held.
#pragma once

#include <cstdint>

#include "family_a/speeds_a.h"
#include "frame/record_map.h"
#include "kxconf.h"

namespace kx {

// The field-by-field correspondence, both directions.
extern const record_map settings_map_a;

// Any code outside 0..7 reads as 9600.
uint32_t baud_rate_from_code_a(uint8_t code);
// Any rate that is not one of the eight gives the code for 9600.
uint8_t baud_code_from_rate_a(uint32_t rate);

// Sets family to 1, turns the identifier text into bytes and the baud code
// into a rate, sets stop_bits to 1 (family A has none), and writes only the
// first 15 bytes of firmware_version.
void settings_a_to_generic(kx_settings_record &generic, const kxa_settings_record &settings_a);
// Sets family to 1, writes the identifier as text and the rate as a code;
// stop_bits is not read. Address fields take the generic 16 bytes and keep
// their last 4.
void generic_to_settings_a(kxa_settings_record &settings_a, const kx_settings_record &generic);

}  // namespace kx
