#include "family_b/mapping_b.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/convert.h"

namespace kx {

namespace {

template <typename To, typename From, size_t N>
void copy_bytes(To (&to)[N], const From (&from)[N]) {
    static_assert(sizeof(To) == 1 && sizeof(From) == 1);
    std::memcpy(to, from, N);
}

// A generic address field may fill all 16 bytes without a NUL, so the parser
// is handed a terminated copy rather than the field itself.
void address_from_field(const char (&field)[16], uint8_t (&address)[4]) {
    char text[sizeof field + 1];
    std::memcpy(text, field, sizeof field);
    text[sizeof field] = '\0';
    ip_from_text(text, address);
}

}  // namespace

void settings_b_to_generic(kx_settings_record &generic, const kxb_settings_record &settings_b) {
    const kxb_settings_record &b = settings_b;
    kx_settings_record &g = generic;
    g.family = b.family;
    copy_bytes(g.on_text, b.on_text);
    copy_bytes(g.password, b.password);
    copy_bytes(g.device_name, b.device_name);
    copy_bytes(g.firmware_version, b.firmware_version);
    copy_bytes(g.device_id, b.device_id);
    ip_to_text(b.ip_address, g.ip_address);
    g.local_port = b.local_port;
    ip_to_text(b.dest_ip, g.dest_ip);
    g.dest_port = b.dest_port;
    ip_to_text(b.subnet_mask, g.subnet_mask);
    ip_to_text(b.gateway, g.gateway);
    ip_to_text(b.li_address, g.li_address);
    ip_to_text(b.li_address_2, g.li_address_2);
    copy_bytes(g.dw_text, b.dw_text);
    g.tp_value = b.tp_value;
    g.rm_value = b.rm_value;
    g.dhcp_enabled = b.dhcp_enabled;
    g.ww_flag = b.ww_flag;
    g.dd_flag = b.dd_flag;
    g.nb_flag = 0;
    g.keep_alive = b.keep_alive;
    g.md_value = b.md_value;
    g.ml_value = b.ml_value;
    g.baud_rate = uint32_t{b.baud_hundreds} * 100u;
    g.parity = b.parity;
    g.data_bits = b.data_bits;
    g.stop_bits = b.stop_bits;
    g.flow_control = b.flow_control;
}

void generic_to_settings_b(kxb_settings_record &settings_b, const kx_settings_record &generic) {
    kxb_settings_record &b = settings_b;
    const kx_settings_record &g = generic;
    b.family = g.family;
    copy_bytes(b.on_text, g.on_text);
    copy_bytes(b.password, g.password);
    copy_bytes(b.device_name, g.device_name);
    copy_bytes(b.firmware_version, g.firmware_version);
    copy_bytes(b.device_id, g.device_id);
    address_from_field(g.ip_address, b.ip_address);
    b.local_port = g.local_port;
    address_from_field(g.dest_ip, b.dest_ip);
    b.dest_port = g.dest_port;
    address_from_field(g.subnet_mask, b.subnet_mask);
    address_from_field(g.gateway, b.gateway);
    address_from_field(g.li_address, b.li_address);
    address_from_field(g.li_address_2, b.li_address_2);
    copy_bytes(b.dw_text, g.dw_text);
    b.tp_value = g.tp_value;
    b.rm_value = g.rm_value;
    b.dhcp_enabled = g.dhcp_enabled;
    b.ww_flag = g.ww_flag;
    b.dd_flag = g.dd_flag;
    b.keep_alive = g.keep_alive;
    b.md_value = g.md_value;
    b.ml_value = g.ml_value;
    // Whole hundreds only, and no more than 16 bits of them.
    b.baud_hundreds = static_cast<uint16_t>(g.baud_rate / 100u);
    b.parity = g.parity;
    b.data_bits = g.data_bits;
    b.stop_bits = g.stop_bits;
    b.flow_control = g.flow_control;
}

}  // namespace kx
