// One table per family settings record that says, field by field, how it
// corresponds to the generic settings record. The same table serves both
// directions, so a field is added or changed in one place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "frame/convert.h"

namespace kx {

enum class map_kind : uint8_t {
    copy,            // the first min(widths) bytes, raw (numbers stay in host order)
    address,         // family: 4 address bytes; generic: dotted text of 16
    id_text,         // family: identifier text of family_width; generic: 6 bytes
    speed_hundreds,  // family: 16-bit speed / 100; generic: 32-bit bits per second
    speed_code,      // family: 8-bit code into the speed list; generic: 32-bit bits per second
    generic_fixed,   // every byte of the generic side set to value; the family has no such field
    fixed,           // both sides set to value
};

struct field_map {
    uint16_t family_at;
    uint8_t family_width;
    uint16_t generic_at;
    uint8_t generic_width;
    map_kind kind;
    uint8_t value = 0;  // fixed kinds only
};

// A family's speed codes: code n stands for rates[n]; any other code, or a
// rate not in the list, means fallback_code.
struct speed_list {
    std::span<const uint32_t> rates;
    uint8_t fallback_code;
};

uint32_t rate_of_code(const speed_list &speeds, uint8_t code);
uint8_t code_of_rate(const speed_list &speeds, uint32_t rate);

struct record_map {
    std::span<const field_map> fields;
    speed_list speeds;  // for speed_code fields
};

enum class toward : uint8_t { generic, family };

// Converts every field of the table from one record to the other; bytes that
// no field names keep what they held. from and to are the family record and
// the generic record, in the order the direction gives.
void map_record(const record_map &map, toward direction, const uint8_t *from, uint8_t *to);

template <typename From, typename To>
void map_record(const record_map &map, toward direction, const From &from, To &to) {
    map_record(map, direction, reinterpret_cast<const uint8_t *>(&from),
               reinterpret_cast<uint8_t *>(&to));
}

// A table row: a field present in both records.
#define KX_MAP(family_type, family_field, generic_field, kind)                                    \
    ::kx::field_map {                                                                             \
        static_cast<uint16_t>(offsetof(family_type, family_field)),                               \
            static_cast<uint8_t>(sizeof(family_type::family_field)),                              \
            static_cast<uint16_t>(offsetof(kx_settings_record, generic_field)),                   \
            static_cast<uint8_t>(sizeof(kx_settings_record::generic_field)), ::kx::map_kind::kind \
    }

// A table row: a generic field that the family record does not have.
#define KX_MAP_GENERIC_FIXED(generic_field, fixed_value)                          \
    ::kx::field_map {                                                             \
        0, 0, static_cast<uint16_t>(offsetof(kx_settings_record, generic_field)), \
            static_cast<uint8_t>(sizeof(kx_settings_record::generic_field)),      \
            ::kx::map_kind::generic_fixed, fixed_value                            \
    }

// Every row whose kind fixes the widths on either side must have them.
constexpr bool widths_fit(const field_map &f) {
    switch (f.kind) {
        case map_kind::copy:
        case map_kind::fixed:
        case map_kind::generic_fixed:
            return true;
        case map_kind::address:
            return f.family_width == 4 && f.generic_width == 16;
        case map_kind::id_text:
            return f.family_width >= id_text_capacity && f.generic_width == 6;
        case map_kind::speed_hundreds:
            return f.family_width == 2 && f.generic_width == 4;
        case map_kind::speed_code:
            return f.family_width == 1 && f.generic_width == 4;
    }
    return false;
}

}  // namespace kx
