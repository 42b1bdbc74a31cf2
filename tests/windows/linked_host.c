/*
 * A host linked with the import library (libkxconf.dll.a) instead of
 * LoadLibrary: the loader binds every function by its plain name when the
 * program starts, and the library's process attach has run before main.
 * Sends nothing.
 */
#include <stdio.h>
#include <string.h>

#include "kxconf.h"

int main(void) {
    int failures = 0;
    static const uint8_t digits[] = "123456789";
    const int32_t crc = cal_crc(digits, 9);
    printf("%s linked host: cal_crc through the import library\n", crc == 0x31C3 ? "PASS" : "FAIL");
    failures += crc != 0x31C3;

    /* Refused before any socket is opened: no address, no complete identifier. */
    kxa_settings_record record;
    memset(&record, 0, sizeof record);
    const int32_t refused = kxa_read_setting("", "1.2.3", &record, NULL);
    printf("%s linked host: kxa_read_setting argument check\n",
           refused == KX_E_ARGUMENT ? "PASS" : "FAIL");
    failures += refused != KX_E_ARGUMENT;
    return failures == 0 ? 0 : 1;
}
