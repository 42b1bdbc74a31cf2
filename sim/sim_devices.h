// A device of any family with the simulator's defaults, for the demo and
// the tests.
#pragma once

#include <string>

#include "lan.h"

namespace kxsim {

// Adds a device of the family with that code at address, its identifier
// 0.16.<id_group>.0.0.<index> and its name SIM-<letter><index>. False for a
// code no family has.
bool add_default_device(lan &net, int code, const std::string &address, int index);

}  // namespace kxsim
