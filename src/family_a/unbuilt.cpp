// Family A configuration, not built yet: every entry point reports an
// invalid argument so that no caller mistakes it for success.
#include "kxconf.h"

KXCONF_API int32_t KXCONF_CALL kxa_login(const char *, const char *, const kx_settings_record *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxa_logout(const char *, const uint8_t *) { return KX_E_ARGUMENT; }
KXCONF_API int32_t KXCONF_CALL kxa_read_setting(const char *, const char *, kxa_settings_record *,
                                                const kx_device_record *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxa_write_setting(const char *, const char *,
                                                 const kxa_settings_record *,
                                                 const kx_device_record *) {
    return KX_E_ARGUMENT;
}
KXCONF_API int32_t KXCONF_CALL kxa_setting_baud(const char *, uint32_t) { return KX_E_ARGUMENT; }
KXCONF_API int32_t KXCONF_CALL kxa_setting_parity(const char *, uint32_t) { return KX_E_ARGUMENT; }
KXCONF_API int32_t KXCONF_CALL kxa_setting_databit(const char *, uint32_t) { return KX_E_ARGUMENT; }
