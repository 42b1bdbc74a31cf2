#include "family_b/family_b.h"

#include "frame/record_pin.h"

namespace kx {

// The family's settings record as hosts read it.
static_assert(sizeof(kxb_settings_record) == 148);
KX_PIN(kxb_settings_record, family, 0);
KX_PIN(kxb_settings_record, reserved_1, 1);
KX_PIN(kxb_settings_record, device_id, 4);
KX_PIN(kxb_settings_record, reserved_10, 10);
KX_PIN(kxb_settings_record, device_name, 12);
KX_PIN(kxb_settings_record, reserved_22, 22);
KX_PIN(kxb_settings_record, firmware_version, 28);
KX_PIN(kxb_settings_record, ip_address, 44);
KX_PIN(kxb_settings_record, subnet_mask, 48);
KX_PIN(kxb_settings_record, gateway, 52);
KX_PIN(kxb_settings_record, local_port, 56);
KX_PIN(kxb_settings_record, rm_value, 58);
KX_PIN(kxb_settings_record, dhcp_enabled, 59);
KX_PIN(kxb_settings_record, dest_ip, 60);
KX_PIN(kxb_settings_record, dest_port, 64);
KX_PIN(kxb_settings_record, tp_value, 66);
KX_PIN(kxb_settings_record, ww_flag, 67);
KX_PIN(kxb_settings_record, dd_flag, 68);
KX_PIN(kxb_settings_record, reserved_69, 69);
KX_PIN(kxb_settings_record, li_address, 72);
KX_PIN(kxb_settings_record, li_address_2, 76);
KX_PIN(kxb_settings_record, dw_text, 80);
KX_PIN(kxb_settings_record, reserved_110, 110);
KX_PIN(kxb_settings_record, ml_value, 116);
KX_PIN(kxb_settings_record, md_value, 118);
KX_PIN(kxb_settings_record, keep_alive, 119);
KX_PIN(kxb_settings_record, baud_hundreds, 120);
KX_PIN(kxb_settings_record, reserved_122, 122);
KX_PIN(kxb_settings_record, data_bits, 124);
KX_PIN(kxb_settings_record, parity, 125);
KX_PIN(kxb_settings_record, stop_bits, 126);
KX_PIN(kxb_settings_record, flow_control, 127);
KX_PIN(kxb_settings_record, on_text, 128);
KX_PIN(kxb_settings_record, password, 138);
static_assert(sizeof(kxb_settings_record) <= family_record_room);

// Family B devices answer family A's probe with "Q7" and their name.
constinit const family_ops family_b_ops = family_ops_b(KX_FAMILY_B, 'B', family_b_port, "Q7");

}  // namespace kx
