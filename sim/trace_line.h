// One line per received datagram for kxsim --trace: the time, the addresses
// and ports, the family's letter and what the datagram carries, decoded by
// its family's kind (families.h).
#pragma once

#include <string>

#include "lan.h"

namespace kxsim {

std::string trace_line(const datagram &d);

// The decoders of the family kinds: a family A command as its text; a
// family B packet as its opcode and the fields it carries.
std::string trace_text_a(const bytes &payload);
std::string trace_text_b(const bytes &payload);

}  // namespace kxsim
