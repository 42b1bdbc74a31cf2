// Family T, for the tests only: a family of another shape than A and B,
// joined to the library as any family is (this folder and its line in the
// family list). Its devices listen on their own port and speak KEY=VALUE
// lines (lines_t.h): OP=WHO is answered with OP=IAM, and a login opens a
// session whose number every later request of the device carries. Its
// devices do not answer family A's probe.
#pragma once

#include <cstdint>

#include "frame/family.h"

namespace kx {

constexpr uint8_t family_t_code = 48;
constexpr uint16_t family_t_port = 65290;

// Family T's own settings record: 64 bytes, 13 fields; addresses are 4
// bytes, first octet first; numbers little-endian.
#pragma pack(push, 1)
struct kxt_settings_record {
    uint8_t family;
    uint8_t device_id[6];
    char device_name[10];
    char firmware_version[16];
    char password[10];
    uint8_t ip_address[4];
    uint8_t subnet_mask[4];
    uint8_t gateway[4];
    uint16_t local_port;
    uint32_t baud_rate;
    uint8_t parity;
    uint8_t data_bits;
    uint8_t stop_bits;
};
#pragma pack(pop)

extern const family_ops family_t_ops;

}  // namespace kx
