// Family A's entry in the family table. Its exported functions select a
// device by identifier text, so the generic identifier bytes are turned into
// text here.
#include "family_a/family_a.h"

#include "family_a/discovery_a.h"
#include "family_a/mapping_a.h"
#include "frame/convert.h"
#include "frame/record_pin.h"

namespace kx {
namespace {

// The family's settings record as hosts read it.
static_assert(sizeof(kxa_settings_record) == 244);
KX_PIN(kxa_settings_record, family, 0);
KX_PIN(kxa_settings_record, device_name, 1);
KX_PIN(kxa_settings_record, device_id_text, 11);
KX_PIN(kxa_settings_record, ip_address, 41);
KX_PIN(kxa_settings_record, local_port, 61);
KX_PIN(kxa_settings_record, dest_ip, 63);
KX_PIN(kxa_settings_record, dest_port, 83);
KX_PIN(kxa_settings_record, subnet_mask, 85);
KX_PIN(kxa_settings_record, gateway, 105);
KX_PIN(kxa_settings_record, tp_value, 125);
KX_PIN(kxa_settings_record, rm_value, 126);
KX_PIN(kxa_settings_record, dhcp_enabled, 127);
KX_PIN(kxa_settings_record, baud_code, 128);
KX_PIN(kxa_settings_record, parity, 129);
KX_PIN(kxa_settings_record, data_bits, 130);
KX_PIN(kxa_settings_record, flow_control, 131);
KX_PIN(kxa_settings_record, md_value, 132);
KX_PIN(kxa_settings_record, ml_value, 133);
KX_PIN(kxa_settings_record, keep_alive, 135);
KX_PIN(kxa_settings_record, firmware_version, 136);
KX_PIN(kxa_settings_record, on_text, 151);
KX_PIN(kxa_settings_record, password, 161);
KX_PIN(kxa_settings_record, ww_flag, 171);
KX_PIN(kxa_settings_record, dd_flag, 172);
KX_PIN(kxa_settings_record, li_address, 173);
KX_PIN(kxa_settings_record, li_address_2, 193);
KX_PIN(kxa_settings_record, dw_text, 213);
KX_PIN(kxa_settings_record, nb_flag, 243);
static_assert(sizeof(kxa_settings_record) <= family_record_room);

// Room for the longest identifier text, with some to spare.
constexpr size_t id_text_buffer = 32;
static_assert(id_text_buffer >= id_text_capacity);

struct id_text_a {
    char text[id_text_buffer];
};

// The identifier text that family A functions select the device by; false
// for a null identifier.
bool make_id_text(const uint8_t *device_id, id_text_a &out) {
    if (device_id == nullptr) return false;
    id_to_text(device_id, out.text, sizeof out.text);
    return true;
}

int32_t login(const family_ops &, const char *ip_text, const uint8_t *device_id,
              const kx_settings_record *login) {
    id_text_a id;
    if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
    return kxa_login(ip_text, id.text, login);
}

int32_t logout(const family_ops &, const char *ip_text, const uint8_t *device_id) {
    return kxa_logout(ip_text, device_id);
}

int32_t read_record(const family_ops &, const char *ip_text, const uint8_t *device_id,
                    uint8_t *record, const kx_device_record *device) {
    id_text_a id;
    if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
    return kxa_read_setting(ip_text, id.text, reinterpret_cast<kxa_settings_record *>(record),
                            device);
}

int32_t write_record(const family_ops &, const char *ip_text, const uint8_t *device_id,
                     const uint8_t *record, const kx_device_record *device) {
    id_text_a id;
    if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
    return kxa_write_setting(ip_text, id.text,
                             reinterpret_cast<const kxa_settings_record *>(record), device);
}

int32_t set_baud(const family_ops &, const char *ip_text, uint32_t baud_rate) {
    return kxa_setting_baud(ip_text, baud_rate);
}

int32_t set_parity(const family_ops &, const char *ip_text, uint32_t parity) {
    return kxa_setting_parity(ip_text, parity);
}

int32_t set_data_bits(const family_ops &, const char *ip_text, uint32_t data_bits) {
    return kxa_setting_databit(ip_text, data_bits);
}

}  // namespace

constinit const family_ops family_a_ops = {
    .code = KX_FAMILY_A,
    .letter = 'A',
    .name = "tagged text commands",
    .device_port = family_a_port,
    .record_size = sizeof(kxa_settings_record),
    .search_one_wait_ms = search_one_wait_a_ms,
    .search_request = search_request_datagram_a,
    .parse_answer = parse_answer_a,
    .identify_answer = nullptr,
    .probe_answer = {},
    .search_one = search_one_a,
    .login = login,
    .logout = logout,
    .settings_map = &settings_map_a,
    .read_record = read_record,
    .write_record = write_record,
    .set_baud = set_baud,
    .set_parity = set_parity,
    .set_data_bits = set_data_bits,
};

}  // namespace kx
