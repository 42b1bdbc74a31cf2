// One line per received datagram for kxsim --trace: the family A command
// text, or the family B opcode and the fields its packet carries.
#pragma once

#include <string>

#include "lan.h"

namespace kxsim {

std::string trace_line(const datagram &d);

}  // namespace kxsim
