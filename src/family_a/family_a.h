// Family A internals shared between its operations and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

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

// The verdict on a search reply, the record parsed as above: a family A
// device, a family B device's answer to the probe, or anything else.
enum class search_reply_a { device, family_b_answer, other };
search_reply_a judge_search_reply_a(std::span<const uint8_t> reply, kx_device_record &record);
// The search of one address: KX_OK, KX_FAMILY_B_ANSWER or KX_E_TIMEOUT.
int32_t result_of(search_reply_a verdict);
// The broadcast searches list only family A answers of at least 24 bytes.
inline bool listed_search_reply_a(std::span<const uint8_t> reply) {
    return reply.size() >= static_cast<size_t>(min_search_reply_a) && reply[0] == 'A';
}

}  // namespace kx
