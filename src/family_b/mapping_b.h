// Conversions between the family B settings record and the generic settings
// record. Each writes only the fields the two records share; the reserved
// bytes of the family B record and the generic stretches that hold no field
// are neither read nor written.
#pragma once

#include "frame/record_map.h"
#include "kxconf.h"

namespace kx {

// The field-by-field correspondence, both directions.
extern const record_map settings_map_b;

// Copies family as it is, turns each 4-byte address into dotted text and the
// speed in hundreds into bits per second, and sets nb_flag to 0 (family B
// has no such setting).
void settings_b_to_generic(kx_settings_record &generic, const kxb_settings_record &settings_b);
// Copies family as it is (a record not of family 16 is then refused by the
// family B write), parses each address text (255.255.255.255 when it does not
// parse) and keeps the low 16 bits of the speed divided by 100; nb_flag is
// not carried.
void generic_to_settings_b(kxb_settings_record &settings_b, const kx_settings_record &generic);

}  // namespace kx
