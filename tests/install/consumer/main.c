/* Compiled as C99 against the installed header: the interface is plain C. */
#include <kxconf.h>
#include <stdio.h>

int main(void) {
    static const uint8_t digits[] = "123456789";
    const int32_t crc = cal_crc(digits, 9);
    if (sizeof(kx_device_record) != 258 || sizeof(kx_settings_record) != 304 ||
        sizeof(kxa_settings_record) != 244 || sizeof(kxb_settings_record) != 148) {
        puts("record sizes differ in C");
        return 1;
    }
    printf("cal_crc(\"123456789\") = 0x%04X\n", (unsigned)crc);
    return crc == 0x31C3 ? 0 : 1;
}
