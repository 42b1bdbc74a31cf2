#include "family_a/mapping_a.h"

#include <algorithm>
#include <cstddef>

#include "frame/record_map.h"

namespace kx {

namespace {

constexpr speed_list speeds_a{baud_rates_a, default_baud_code_a};

#define KXA_MAP(field, kind) KX_MAP(kxa_settings_record, field, field, kind)
// Copies move min(widths) bytes: the device's version text is at most 15
// characters (the 16th generic byte stays as it was), and an address moves
// the generic 16 bytes (the last 4 of the family field stay as they were).
// clang-format off
constexpr field_map fields_a[] = {
    {offsetof(kxa_settings_record, family), 1, offsetof(kx_settings_record, family), 1,
     map_kind::fixed, KX_FAMILY_A},
    KXA_MAP(on_text, copy),
    KXA_MAP(password, copy),
    KXA_MAP(device_name, copy),
    KXA_MAP(firmware_version, copy),
    KX_MAP(kxa_settings_record, device_id_text, device_id, id_text),
    KXA_MAP(ip_address, copy),
    KXA_MAP(local_port, copy),
    KXA_MAP(dest_ip, copy),
    KXA_MAP(dest_port, copy),
    KXA_MAP(subnet_mask, copy),
    KXA_MAP(gateway, copy),
    KXA_MAP(li_address, copy),
    KXA_MAP(li_address_2, copy),
    KXA_MAP(dw_text, copy),
    KXA_MAP(tp_value, copy),
    KXA_MAP(rm_value, copy),
    KXA_MAP(dhcp_enabled, copy),
    KXA_MAP(ww_flag, copy),
    KXA_MAP(dd_flag, copy),
    KXA_MAP(nb_flag, copy),
    KXA_MAP(keep_alive, copy),
    KXA_MAP(md_value, copy),
    KXA_MAP(ml_value, copy),
    KX_MAP(kxa_settings_record, baud_code, baud_rate, speed_code),
    KXA_MAP(parity, copy),
    KXA_MAP(data_bits, copy),
    KX_MAP_GENERIC_FIXED(stop_bits, 1),  // family A has none
    KXA_MAP(flow_control, copy),
};
// clang-format on
#undef KXA_MAP

static_assert(std::all_of(std::begin(fields_a), std::end(fields_a), widths_fit));

}  // namespace

constinit const record_map settings_map_a{fields_a, speeds_a};

uint32_t baud_rate_from_code_a(uint8_t code) { return rate_of_code(speeds_a, code); }

uint8_t baud_code_from_rate_a(uint32_t rate) { return code_of_rate(speeds_a, rate); }

void settings_a_to_generic(kx_settings_record &generic, const kxa_settings_record &settings_a) {
    map_record(settings_map_a, toward::generic, settings_a, generic);
}

void generic_to_settings_a(kxa_settings_record &settings_a, const kx_settings_record &generic) {
    map_record(settings_map_a, toward::family, generic, settings_a);
}

}  // namespace kx
