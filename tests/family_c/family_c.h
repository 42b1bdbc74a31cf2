// Family C, for the tests only: family B's protocol with a family code, a
// device port and an answer to family A's probe of its own. It joins the
// library as any family does: this folder, and its line in the family list.
#pragma once

#include <cstdint>

#include "frame/family.h"

namespace kx {

constexpr uint8_t family_c_code = 32;
constexpr uint16_t family_c_port = 65290;

extern const family_ops family_c_ops;

}  // namespace kx
