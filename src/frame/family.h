// One constant table per family: its code and every operation the generic
// kx_ functions forward to. The generic layer looks a family up by the code
// in the first byte of a record and never names a family itself.
//
// Adding a family: a folder src/family_x/ whose family_x.cpp defines its
// family_ops, and one entry in the list in frame/family.cpp.
#pragma once

#include <cstdint>

#include "kxconf.h"

namespace kx {

struct family_ops {
    uint8_t code;  // KX_FAMILY_*, the first byte of every record of the family
    // Broadcast search: the devices found, from records[0] on.
    int32_t(KXCONF_CALL *search_all)(kx_device_record *records, int32_t *count);
    // One device by address; may answer another family's code when a device
    // of that family answered instead.
    int32_t(KXCONF_CALL *search_one)(const char *ip_text, kx_device_record *record);
    int32_t(KXCONF_CALL *login)(const char *ip_text, const uint8_t *device_id,
                                const kx_settings_record *login);
    int32_t(KXCONF_CALL *logout)(const char *ip_text, const uint8_t *device_id);
    // Read and write through the family's own settings record and its mapping
    // to and from the generic one (family_x/mapping_x.h).
    int32_t (*read_settings)(const char *ip_text, const uint8_t *device_id,
                             kx_settings_record &settings, const kx_device_record *device);
    int32_t (*write_settings)(const char *ip_text, const uint8_t *device_id,
                              const kx_settings_record &settings, const kx_device_record *device);
    // Quick settings of the serial line.
    int32_t(KXCONF_CALL *set_baud)(const char *ip_text, uint32_t baud_rate);
    int32_t(KXCONF_CALL *set_parity)(const char *ip_text, uint32_t parity);
    int32_t(KXCONF_CALL *set_data_bits)(const char *ip_text, uint32_t data_bits);
    // Whether the family's devices can hold this serial speed.
    bool (*carries_speed)(uint32_t baud_rate);
};

extern const family_ops family_a_ops;
extern const family_ops family_b_ops;

// The family whose code a record starts with; null for an unknown code or a
// null record.
const family_ops *find_family(const void *record);
const family_ops *family_by_code(int32_t code);
// Every family in search order: family A first, whose single-device search
// also recognises the others.
int family_count();
const family_ops &family_at(int index);

}  // namespace kx
