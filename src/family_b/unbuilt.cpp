// Family B, not built yet: every entry point reports an invalid argument so
// that no caller mistakes it for success.
#include "kxconf.h"

KXCONF_API int32_t KXCONF_CALL kxb_search_all(kx_device_record *, int32_t *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxb_search_one(const char *, kx_device_record *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxb_login(const char *, const uint8_t *, const kx_settings_record *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxb_logout(const char *, const uint8_t *) { return KX_E_ARGUMENT; }
KXCONF_API int32_t KXCONF_CALL kxb_read_setting(const char *, const uint8_t *,
                                                kxb_settings_record *, const kx_device_record *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxb_write_setting(const char *, const uint8_t *,
                                                 const kxb_settings_record *,
                                                 const kx_device_record *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxb_setting_baud(const char *, uint32_t) { return KX_E_ARGUMENT; }
KXCONF_API int32_t KXCONF_CALL kxb_setting_parity(const char *, uint32_t) { return KX_E_ARGUMENT; }
KXCONF_API int32_t KXCONF_CALL kxb_setting_databit(const char *, uint32_t) { return KX_E_ARGUMENT; }
