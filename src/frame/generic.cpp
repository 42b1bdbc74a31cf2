// The generic entry points: each reads the family code from the first byte of
// the record named for it and forwards to the family function of the same
// role. Settings pass through a family record held for the call and the
// mappings; family A functions take the identifier as text.
//
// A null record, count or identifier that the chosen family would have to
// read gives KX_E_ARGUMENT before anything is sent.
#include <cstdint>
#include <cstring>

#include "family_a/mapping_a.h"
#include "family_b/mapping_b.h"
#include "frame/convert.h"
#include "kxconf.h"

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

enum class family { a, b, unknown };

family family_of(const void *record) {
    switch (*static_cast<const uint8_t *>(record)) {
        case KX_FAMILY_A: return family::a;
        case KX_FAMILY_B: return family::b;
        default: return family::unknown;
    }
}

using quick_setter = int32_t(KXCONF_CALL *)(const char *, uint32_t);

int32_t quick_setting(const char *ip_text, uint32_t value, const void *family_record,
                      quick_setter setter_a, quick_setter setter_b) {
    if (family_record == nullptr) return KX_E_ARGUMENT;
    switch (family_of(family_record)) {
        case family::a: return setter_a(ip_text, value);
        case family::b: return setter_b(ip_text, value);
        case family::unknown: break;
    }
    return KX_E_ARGUMENT;
}

}  // namespace
}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kx_search_all(kx_device_record *records, int32_t *count) {
    if (records == nullptr || count == nullptr) return KX_E_ARGUMENT;
    int32_t found_a = 0;
    // Without a family A search there is no count to report: the caller's
    // stays as it was, and the call still succeeds.
    if (kxa_search_all(records, &found_a) != KX_OK) return KX_OK;
    // Family B devices follow the family A ones in the caller's array.
    int32_t found_b = 0;
    if (kxb_search_all(records + found_a, &found_b) != KX_OK) found_b = 0;
    *count = found_a + found_b;
    return KX_OK;
}

KXCONF_API int32_t KXCONF_CALL kx_search_one(const char *ip_text, kx_device_record *record) {
    if (record == nullptr) return KX_E_ARGUMENT;
    const int32_t result_a = kxa_search_one(ip_text, record);
    if (result_a == KX_OK) return KX_OK;
    // "Q7": the device is of family B, so ask it in its own protocol.
    if (result_a == KX_FAMILY_B_ANSWER) return kxb_search_one(ip_text, record);
    return KX_E_TIMEOUT;
}

KXCONF_API int32_t KXCONF_CALL kx_login(const char *ip_text, const uint8_t *device_id,
                                        const kx_settings_record *login) {
    if (login == nullptr) return KX_E_ARGUMENT;
    switch (family_of(login)) {
        case family::a: {
            id_text_a id;
            if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
            return kxa_login(ip_text, id.text, login);
        }
        case family::b: return kxb_login(ip_text, device_id, login);
        case family::unknown: break;
    }
    return KX_E_TIMEOUT;
}

KXCONF_API int32_t KXCONF_CALL kx_logout(const char *ip_text, const uint8_t *device_id,
                                         const void *family_record) {
    if (family_record == nullptr) return KX_E_ARGUMENT;
    switch (family_of(family_record)) {
        case family::a: return kxa_logout(ip_text, device_id);
        case family::b: return kxb_logout(ip_text, device_id);
        case family::unknown: break;
    }
    return KX_E_TIMEOUT;
}

KXCONF_API int32_t KXCONF_CALL kx_read_setting(const char *ip_text, const uint8_t *device_id,
                                               kx_settings_record *settings,
                                               const kx_device_record *device) {
    if (settings == nullptr || device == nullptr) return KX_E_ARGUMENT;
    switch (family_of(device)) {
        case family::a: {
            id_text_a id;
            if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
            kxa_settings_record read{};
            const int32_t result = kxa_read_setting(ip_text, id.text, &read, device);
            if (result == KX_OK) settings_a_to_generic(*settings, read);
            return result;
        }
        case family::b: {
            kxb_settings_record read{};
            const int32_t result = kxb_read_setting(ip_text, device_id, &read, device);
            if (result == KX_OK) settings_b_to_generic(*settings, read);
            return result;
        }
        case family::unknown: break;
    }
    return KX_E_ARGUMENT;
}

KXCONF_API int32_t KXCONF_CALL kx_write_setting(const char *ip_text, const uint8_t *device_id,
                                                const kx_settings_record *settings,
                                                const kx_device_record *device) {
    if (settings == nullptr || device == nullptr) return KX_E_ARGUMENT;
    switch (family_of(device)) {
        case family::a: {
            id_text_a id;
            if (!make_id_text(device_id, id)) return KX_E_ARGUMENT;
            kxa_settings_record written{};
            generic_to_settings_a(written, *settings);
            return kxa_write_setting(ip_text, id.text, &written, device);
        }
        case family::b: {
            kxb_settings_record written{};
            generic_to_settings_b(written, *settings);
            return kxb_write_setting(ip_text, device_id, &written, device);
        }
        case family::unknown: break;
    }
    return KX_E_ARGUMENT;
}

KXCONF_API int32_t KXCONF_CALL kx_setting_baud(const char *ip_text, uint32_t baud_rate,
                                               const void *family_record) {
    return quick_setting(ip_text, baud_rate, family_record, kxa_setting_baud, kxb_setting_baud);
}

KXCONF_API int32_t KXCONF_CALL kx_setting_parity(const char *ip_text, uint32_t parity,
                                                 const void *family_record) {
    return quick_setting(ip_text, parity, family_record, kxa_setting_parity, kxb_setting_parity);
}

KXCONF_API int32_t KXCONF_CALL kx_setting_databit(const char *ip_text, uint32_t data_bits,
                                                  const void *family_record) {
    return quick_setting(ip_text, data_bits, family_record, kxa_setting_databit,
                         kxb_setting_databit);
}
