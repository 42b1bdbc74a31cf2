#include "family_b/mapping_b.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "frame/record_map.h"

namespace kx {

namespace {

#define KXB_MAP(field, kind) KX_MAP(kxb_settings_record, field, field, kind)
// clang-format off
constexpr field_map fields_b[] = {
    KXB_MAP(family, copy),
    KXB_MAP(on_text, copy),
    KXB_MAP(password, copy),
    KXB_MAP(device_name, copy),
    KXB_MAP(firmware_version, copy),
    KXB_MAP(device_id, copy),
    KXB_MAP(ip_address, address),
    KXB_MAP(local_port, copy),
    KXB_MAP(dest_ip, address),
    KXB_MAP(dest_port, copy),
    KXB_MAP(subnet_mask, address),
    KXB_MAP(gateway, address),
    KXB_MAP(li_address, address),
    KXB_MAP(li_address_2, address),
    KXB_MAP(dw_text, copy),
    KXB_MAP(tp_value, copy),
    KXB_MAP(rm_value, copy),
    KXB_MAP(dhcp_enabled, copy),
    KXB_MAP(ww_flag, copy),
    KXB_MAP(dd_flag, copy),
    KX_MAP_GENERIC_FIXED(nb_flag, 0),  // family B has no such setting
    KXB_MAP(keep_alive, copy),
    KXB_MAP(md_value, copy),
    KXB_MAP(ml_value, copy),
    KX_MAP(kxb_settings_record, baud_hundreds, baud_rate, speed_hundreds),
    KXB_MAP(parity, copy),
    KXB_MAP(data_bits, copy),
    KXB_MAP(stop_bits, copy),
    KXB_MAP(flow_control, copy),
};
// clang-format on
#undef KXB_MAP

// Copies here move whole fields: both sides are equally wide.
static_assert(std::all_of(std::begin(fields_b), std::end(fields_b), [](const field_map &f) {
    return widths_fit(f) && (f.kind != map_kind::copy || f.family_width == f.generic_width);
}));

}  // namespace

constinit const record_map settings_map_b{fields_b, {}};

void settings_b_to_generic(kx_settings_record &generic, const kxb_settings_record &settings_b) {
    map_record(settings_map_b, toward::generic, settings_b, generic);
}

void generic_to_settings_b(kxb_settings_record &settings_b, const kx_settings_record &generic) {
    map_record(settings_map_b, toward::family, generic, settings_b);
}

}  // namespace kx
