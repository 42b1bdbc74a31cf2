// Family A's entry in the family table. Its exported functions select a
// device by identifier text, so the generic identifier bytes are turned into
// text here.
#include <cstring>

#include "family_a/mapping_a.h"
#include "frame/convert.h"
#include "frame/family.h"

namespace kx {
namespace {

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
    uint8_t id[6];
    std::memcpy(id, device_id, sizeof id);
    id_to_text(id, out.text, sizeof out.text);
    return true;
}

int32_t KXCONF_CALL login(const char *ip_text, const uint8_t *device_id,
                          const kx_settings_record *login) {
    id_text_a id;
    if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
    return kxa_login(ip_text, id.text, login);
}

int32_t read_settings(const char *ip_text, const uint8_t *device_id, kx_settings_record &settings,
                      const kx_device_record *device) {
    id_text_a id;
    if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
    kxa_settings_record read{};
    const int32_t result = kxa_read_setting(ip_text, id.text, &read, device);
    if (result == KX_OK) settings_a_to_generic(settings, read);
    return result;
}

int32_t write_settings(const char *ip_text, const uint8_t *device_id,
                       const kx_settings_record &settings, const kx_device_record *device) {
    id_text_a id;
    if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
    kxa_settings_record written{};
    generic_to_settings_a(written, settings);
    return kxa_write_setting(ip_text, id.text, &written, device);
}

bool carries_speed(uint32_t rate) { return carries_speed_a(rate); }

}  // namespace

const family_ops family_a_ops = {
    .code = KX_FAMILY_A,
    .search_all = kxa_search_all,
    .search_one = kxa_search_one,
    .login = login,
    .logout = kxa_logout,
    .read_settings = read_settings,
    .write_settings = write_settings,
    .set_baud = kxa_setting_baud,
    .set_parity = kxa_setting_parity,
    .set_data_bits = kxa_setting_databit,
    .carries_speed = carries_speed,
};

}  // namespace kx
