// Layouts of the generic records that cross the interface. Host
// applications read these fields at fixed offsets, so any drift must stop
// the build; each family pins its own record in its folder.
#include "frame/record_pin.h"
#include "kxconf.h"

static_assert(sizeof(kx_device_record) == 258);
KX_PIN(kx_device_record, family, 0);
KX_PIN(kx_device_record, firmware_version, 1);
KX_PIN(kx_device_record, device_name, 17);
KX_PIN(kx_device_record, device_id, 27);
KX_PIN(kx_device_record, ip_address, 33);
KX_PIN(kx_device_record, reserved_49, 49);
KX_PIN(kx_device_record, local_port, 50);
KX_PIN(kx_device_record, dest_ip, 52);
KX_PIN(kx_device_record, subnet_mask, 68);
KX_PIN(kx_device_record, gateway, 84);
KX_PIN(kx_device_record, li_address, 100);
KX_PIN(kx_device_record, li_address_2, 116);
KX_PIN(kx_device_record, reserved_132, 132);

static_assert(sizeof(kx_settings_record) == 304);
KX_PIN(kx_settings_record, family, 0);
KX_PIN(kx_settings_record, on_text, 1);
KX_PIN(kx_settings_record, password, 11);
KX_PIN(kx_settings_record, device_name, 21);
KX_PIN(kx_settings_record, firmware_version, 31);
KX_PIN(kx_settings_record, reserved_47, 47);
KX_PIN(kx_settings_record, device_id, 64);
KX_PIN(kx_settings_record, ip_address, 70);
KX_PIN(kx_settings_record, local_port, 86);
KX_PIN(kx_settings_record, dest_ip, 88);
KX_PIN(kx_settings_record, dest_port, 104);
KX_PIN(kx_settings_record, subnet_mask, 106);
KX_PIN(kx_settings_record, gateway, 122);
KX_PIN(kx_settings_record, li_address, 138);
KX_PIN(kx_settings_record, li_address_2, 154);
KX_PIN(kx_settings_record, dw_text, 170);
KX_PIN(kx_settings_record, reserved_200, 200);
KX_PIN(kx_settings_record, tp_value, 258);
KX_PIN(kx_settings_record, rm_value, 259);
KX_PIN(kx_settings_record, dhcp_enabled, 260);
KX_PIN(kx_settings_record, ww_flag, 261);
KX_PIN(kx_settings_record, dd_flag, 262);
KX_PIN(kx_settings_record, nb_flag, 263);
KX_PIN(kx_settings_record, keep_alive, 264);
KX_PIN(kx_settings_record, reserved_265, 265);
KX_PIN(kx_settings_record, md_value, 290);
KX_PIN(kx_settings_record, reserved_291, 291);
KX_PIN(kx_settings_record, ml_value, 292);
KX_PIN(kx_settings_record, reserved_294, 294);
KX_PIN(kx_settings_record, baud_rate, 296);
KX_PIN(kx_settings_record, parity, 300);
KX_PIN(kx_settings_record, data_bits, 301);
KX_PIN(kx_settings_record, stop_bits, 302);
KX_PIN(kx_settings_record, flow_control, 303);

static_assert(sizeof(kx_family_record) == 32);
KX_PIN(kx_family_record, family, 0);
KX_PIN(kx_family_record, letter, 1);
KX_PIN(kx_family_record, device_port, 2);
KX_PIN(kx_family_record, record_size, 4);
KX_PIN(kx_family_record, name, 6);
