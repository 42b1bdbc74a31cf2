// The serial speeds a family A device can hold, as codes 0..7 for these rates.
// Header-only, so the tools check a speed against the same list.
#pragma once

#include <cstdint>

namespace kx {

inline constexpr uint32_t baud_rates_a[8] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
inline constexpr uint8_t default_baud_code_a = 3;  // 9600

constexpr bool carries_speed_a(uint32_t rate) {
    for (uint32_t speed : baud_rates_a)
        if (speed == rate) return true;
    return false;
}

}  // namespace kx
