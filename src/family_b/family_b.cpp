// Family B's entry in the family table. Its exported functions already take
// the identifier as bytes; only the settings record needs its mapping.
#include "family_b/mapping_b.h"
#include "frame/family.h"

namespace kx {
namespace {

int32_t read_settings(const char *ip_text, const uint8_t *device_id, kx_settings_record &settings,
                      const kx_device_record *device) {
    kxb_settings_record read{};
    const int32_t result = kxb_read_setting(ip_text, device_id, &read, device);
    if (result == KX_OK) settings_b_to_generic(settings, read);
    return result;
}

int32_t write_settings(const char *ip_text, const uint8_t *device_id,
                       const kx_settings_record &settings, const kx_device_record *device) {
    kxb_settings_record written{};
    generic_to_settings_b(written, settings);
    return kxb_write_setting(ip_text, device_id, &written, device);
}

// The device keeps the speed in hundreds, in 16 bits.
bool carries_speed(uint32_t rate) { return rate >= 100 && rate % 100 == 0 && rate / 100 <= 65535; }

}  // namespace

const family_ops family_b_ops = {
    .code = KX_FAMILY_B,
    .search_all = kxb_search_all,
    .search_one = kxb_search_one,
    .login = kxb_login,
    .logout = kxb_logout,
    .read_settings = read_settings,
    .write_settings = write_settings,
    .set_baud = kxb_setting_baud,
    .set_parity = kxb_setting_parity,
    .set_data_bits = kxb_setting_databit,
    .carries_speed = carries_speed,
};

}  // namespace kx
