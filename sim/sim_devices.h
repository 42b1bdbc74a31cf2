// Default devices for the kxsim program and the demo.
#pragma once

#include <string>

#include "family.h"
#include "lan.h"

namespace kxsim {

// Adds a device of the family at address with identifier text id_text (a
// default derived from index when empty). False when the identifier does not
// parse or the family cannot be simulated.
bool add_default_device(lan &net, family kind, const std::string &address, std::string id_text,
                        int index);

}  // namespace kxsim
