// The serial speeds a family A device can hold, as codes 0..7 for these rates.
#pragma once

#include <cstdint>

namespace kx {

inline constexpr uint32_t baud_rates_a[8] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr uint8_t default_baud_code_a = 3;  // 9600

}  // namespace kx
