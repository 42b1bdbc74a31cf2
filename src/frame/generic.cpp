// The generic entry points: each looks the family up by the code in the first
// byte of the record named for it (frame/family.h) and forwards to that
// family's operation of the same role; the searches walk the family list.
//
// A null record, count or identifier that the chosen family would have to
// read gives KX_E_ARGUMENT before anything is sent.
#include "frame/family.h"
#include "frame/search.h"
#include "kxconf.h"

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kx_search_all(kx_device_record *records, int32_t *count) {
    if (records == nullptr || count == nullptr) return KX_E_ARGUMENT;
    int32_t total = 0;
    for (const family_ops *family : family_list) {
        int32_t found = 0;
        // A family that cannot be searched fails the whole search: a list
        // without its devices is no answer to "every device".
        if (search_all_of(*family, records + total, &found) != KX_OK) {
            *count = 0;
            return KX_E_SOCKET;
        }
        // Each family's devices follow the previous family's in the array.
        total += found;
    }
    *count = total;
    return KX_OK;
}

KXCONF_API int32_t KXCONF_CALL kx_search_one(const char *ip_text, kx_device_record *record) {
    if (record == nullptr) return KX_E_ARGUMENT;
    const family_ops &first = *family_list.front();
    const search_one_outcome outcome = first.search_one(first, ip_text, record);
    if (outcome.socket_failed) return KX_E_SOCKET;
    if (outcome.result == KX_OK) return KX_OK;
    // A device of another family answers the first family's probe in its
    // own way, which the first family's search reports as that family's
    // code: ask it again in its own protocol.
    const family_ops *other = family_by_code(outcome.result);
    if (other != nullptr && other != &first)
        return other->search_one(*other, ip_text, record).result;
    // The devices of a family that do not answer the probe are asked in
    // their own protocol; one that fills the record is the answer.
    for (const family_ops *family : family_list) {
        if (family == &first || !family->probe_answer.empty()) continue;
        kx_device_record found{};
        const search_one_outcome own = family->search_one(*family, ip_text, &found);
        if (own.socket_failed) return KX_E_SOCKET;
        if (own.result == KX_OK) {
            *record = found;
            return KX_OK;
        }
    }
    return KX_E_TIMEOUT;
}

KXCONF_API int32_t KXCONF_CALL kx_login(const char *ip_text, const uint8_t *device_id,
                                        const kx_settings_record *login) {
    if (login == nullptr) return KX_E_ARGUMENT;
    const family_ops *family = find_family(login);
    if (family == nullptr) return KX_E_TIMEOUT;
    return family->login(*family, ip_text, device_id, login);
}

KXCONF_API int32_t KXCONF_CALL kx_logout(const char *ip_text, const uint8_t *device_id,
                                         const void *family_record) {
    if (family_record == nullptr) return KX_E_ARGUMENT;
    const family_ops *family = find_family(family_record);
    if (family == nullptr) return KX_E_TIMEOUT;
    return family->logout(*family, ip_text, device_id);
}

// The generic read and write hold the family's own settings record for the
// length of the call and map it with the family's table.
KXCONF_API int32_t KXCONF_CALL kx_read_setting(const char *ip_text, const uint8_t *device_id,
                                               kx_settings_record *settings,
                                               const kx_device_record *device) {
    if (settings == nullptr || device == nullptr) return KX_E_ARGUMENT;
    const family_ops *family = find_family(device);
    if (family == nullptr) return KX_E_ARGUMENT;
    alignas(8) uint8_t record[family_record_room] = {};
    const int32_t result = family->read_record(*family, ip_text, device_id, record, device);
    if (result == KX_OK) map_record(*family->settings_map, toward::generic, record, *settings);
    return result;
}

KXCONF_API int32_t KXCONF_CALL kx_write_setting(const char *ip_text, const uint8_t *device_id,
                                                const kx_settings_record *settings,
                                                const kx_device_record *device) {
    if (settings == nullptr || device == nullptr) return KX_E_ARGUMENT;
    const family_ops *family = find_family(device);
    if (family == nullptr) return KX_E_ARGUMENT;
    alignas(8) uint8_t record[family_record_room] = {};
    map_record(*family->settings_map, toward::family, *settings, record);
    return family->write_record(*family, ip_text, device_id, record, device);
}

KXCONF_API int32_t KXCONF_CALL kx_setting_baud(const char *ip_text, uint32_t baud_rate,
                                               const void *family_record) {
    const family_ops *family = find_family(family_record);
    if (family == nullptr) return KX_E_ARGUMENT;
    return family->set_baud(*family, ip_text, baud_rate);
}

KXCONF_API int32_t KXCONF_CALL kx_setting_parity(const char *ip_text, uint32_t parity,
                                                 const void *family_record) {
    const family_ops *family = find_family(family_record);
    if (family == nullptr) return KX_E_ARGUMENT;
    return family->set_parity(*family, ip_text, parity);
}

KXCONF_API int32_t KXCONF_CALL kx_setting_databit(const char *ip_text, uint32_t data_bits,
                                                  const void *family_record) {
    const family_ops *family = find_family(family_record);
    if (family == nullptr) return KX_E_ARGUMENT;
    return family->set_data_bits(*family, ip_text, data_bits);
}
