// Family A's facts, and its entry in the family table.
#pragma once

#include <cstdint>

#include "frame/family.h"

namespace kx {

constexpr uint16_t family_a_port = 65535;
// The single-device search takes the first answer within this wait.
constexpr int search_one_wait_a_ms = 100;

extern const family_ops family_a_ops;

}  // namespace kx
