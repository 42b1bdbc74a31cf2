// The simulator's own family codes: what a device sends in its records'
// first byte, kept apart from the library's.
#pragma once

#include <cstdint>

namespace kxsim {

enum class family : uint8_t { a = 1, b = 16 };

}  // namespace kxsim
