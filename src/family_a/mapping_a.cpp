#include "family_a/mapping_a.h"

#include <cstring>
#include <iterator>

#include "frame/convert.h"

namespace kx {

namespace {

// A raw byte copy of the first Count bytes, NULs included.
template <size_t Count, typename To, size_t ToSize, typename From, size_t FromSize>
void copy_bytes(To (&to)[ToSize], const From (&from)[FromSize]) {
    static_assert(sizeof(To) == 1 && sizeof(From) == 1);
    static_assert(Count <= ToSize && Count <= FromSize);
    std::memcpy(to, from, Count);
}

}  // namespace

uint32_t baud_rate_from_code_a(uint8_t code) {
    return code < std::size(baud_rates_a) ? baud_rates_a[code] : baud_rates_a[default_baud_code_a];
}

uint8_t baud_code_from_rate_a(uint32_t rate) {
    for (uint8_t code = 0; code < std::size(baud_rates_a); ++code)
        if (baud_rates_a[code] == rate) return code;
    return default_baud_code_a;
}

void settings_a_to_generic(kx_settings_record &generic, const kxa_settings_record &settings_a) {
    const kxa_settings_record &a = settings_a;
    kx_settings_record &g = generic;
    g.family = KX_FAMILY_A;
    copy_bytes<10>(g.on_text, a.on_text);
    copy_bytes<10>(g.password, a.password);
    copy_bytes<10>(g.device_name, a.device_name);
    // The device's version text is at most 15 characters: the 16th byte of
    // the generic field stays as the caller left it.
    copy_bytes<15>(g.firmware_version, a.firmware_version);
    id_from_text(field_text(a.device_id_text, sizeof a.device_id_text), g.device_id);
    copy_bytes<16>(g.ip_address, a.ip_address);
    g.local_port = a.local_port;
    copy_bytes<16>(g.dest_ip, a.dest_ip);
    g.dest_port = a.dest_port;
    copy_bytes<16>(g.subnet_mask, a.subnet_mask);
    copy_bytes<16>(g.gateway, a.gateway);
    copy_bytes<16>(g.li_address, a.li_address);
    copy_bytes<16>(g.li_address_2, a.li_address_2);
    copy_bytes<30>(g.dw_text, a.dw_text);
    g.tp_value = a.tp_value;
    g.rm_value = a.rm_value;
    g.dhcp_enabled = a.dhcp_enabled;
    g.ww_flag = a.ww_flag;
    g.dd_flag = a.dd_flag;
    g.nb_flag = a.nb_flag;
    g.keep_alive = a.keep_alive;
    g.md_value = a.md_value;
    g.ml_value = a.ml_value;
    g.baud_rate = baud_rate_from_code_a(a.baud_code);
    g.parity = a.parity;
    g.data_bits = a.data_bits;
    g.stop_bits = 1;
    g.flow_control = a.flow_control;
}

void generic_to_settings_a(kxa_settings_record &settings_a, const kx_settings_record &generic) {
    kxa_settings_record &a = settings_a;
    const kx_settings_record &g = generic;
    a.family = KX_FAMILY_A;
    copy_bytes<10>(a.on_text, g.on_text);
    copy_bytes<10>(a.password, g.password);
    copy_bytes<10>(a.device_name, g.device_name);
    copy_bytes<15>(a.firmware_version, g.firmware_version);
    id_to_text(g.device_id, a.device_id_text, sizeof a.device_id_text);
    copy_bytes<16>(a.ip_address, g.ip_address);
    a.local_port = g.local_port;
    copy_bytes<16>(a.dest_ip, g.dest_ip);
    a.dest_port = g.dest_port;
    copy_bytes<16>(a.subnet_mask, g.subnet_mask);
    copy_bytes<16>(a.gateway, g.gateway);
    copy_bytes<16>(a.li_address, g.li_address);
    copy_bytes<16>(a.li_address_2, g.li_address_2);
    copy_bytes<30>(a.dw_text, g.dw_text);
    a.tp_value = g.tp_value;
    a.rm_value = g.rm_value;
    a.dhcp_enabled = g.dhcp_enabled;
    a.ww_flag = g.ww_flag;
    a.dd_flag = g.dd_flag;
    a.nb_flag = g.nb_flag;
    a.keep_alive = g.keep_alive;
    a.md_value = g.md_value;
    a.ml_value = g.ml_value;
    a.baud_code = baud_code_from_rate_a(g.baud_rate);
    a.parity = g.parity;
    a.data_bits = g.data_bits;
    a.flow_control = g.flow_control;
}

}  // namespace kx
