// Family A internals shared between its operations and the tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kxconf.h"

namespace kx {

// The search probe: the single byte "X", no terminator.
inline constexpr uint8_t search_request_a[] = {'X'};

// Shortest reply the broadcast search accepts.
constexpr int min_search_reply_a = 24;

// Parses a search reply (text: the received bytes followed by a NUL; length:
// the number of received bytes) into record. Returns 1 for a family A reply,
// 16 for a family B answer ("Q7"), 0 for anything else, having set family to
// 1, 16 or 255. Every field is bounded by its record field.
int parse_search_reply_a(const uint8_t *text, size_t length, kx_device_record &record);

}  // namespace kx
