// Family B read and write of the settings.
#pragma once

#include <cstdint>

#include "frame/family.h"
#include "kxconf.h"

namespace kx {

int32_t read_settings_b(const family_ops &family, const char *ip_text,
                        const uint8_t (&device_id)[6], kxb_settings_record &record);
// The identifier sent is the record's own.
int32_t write_settings_b(const family_ops &family, const char *ip_text,
                         const kxb_settings_record &record);

// The family table's operations (frame/family.h): record is a family B
// settings record.
int32_t read_record_b(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                      uint8_t *record, const kx_device_record *device);
int32_t write_record_b(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                       const uint8_t *record, const kx_device_record *device);

}  // namespace kx
