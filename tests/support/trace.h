// Helpers for asserting what the library sent, as the simulator recorded it.
#pragma once

#include <string>
#include <vector>

#include "lan.h"

namespace kxtest {

// The payloads as texts, in order.
std::vector<std::string> texts(const std::vector<kxsim::datagram> &trace);

// A text with embedded NULs, from a literal: reply("A1.2.3.4.5.6/\0x..."s).
inline std::string with_nul(const char *text, size_t length) { return {text, length}; }

}  // namespace kxtest
