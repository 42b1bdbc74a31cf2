// Family A discovery: the one-byte probe "X" and its text reply, which the
// broadcast and the single-device searches parse into a device record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "frame/family.h"
#include "kxconf.h"

namespace kx {

// The search probe: the single byte "X", no terminator.
inline constexpr uint8_t search_request_a[] = {'X'};

// Shortest reply the broadcast search accepts.
constexpr int min_search_reply_a = 24;

// Parses a search reply (text: the received bytes followed by a NUL; length:
// the number of received bytes) into record. Returns 1 for a family A reply;
// for another family's answer to the probe (one that begins with that
// family's probe_answer, "Q7" for family B) that family's code; 0 for
// anything else; having set family to 1, that code or 255. Every field is
// bounded by its record field.
int parse_search_reply_a(const uint8_t *text, size_t length, kx_device_record &record);

// The verdict on a search reply, the record parsed as above: a family A
// device, another family's device answering the probe (its code in
// record.family), or anything else.
enum class search_reply_a { device, other_family, other };
search_reply_a judge_search_reply_a(std::span<const uint8_t> reply, kx_device_record &record);
// A well-formed device answer: "A", an identifier of six decimal numbers
// 0-255 joined by '.', and no control character (a byte below 0x20, or
// 0x7F) in the text of any other field the record takes (port, name, and
// part two's six; a field's text ends at a NUL in it). Anything else that
// begins with "A" (junk, a late reply to another command) names no device.
bool well_formed_search_reply_a(std::span<const uint8_t> reply);
// The broadcast searches list only well-formed answers of at least 24 bytes.
inline bool listed_search_reply_a(std::span<const uint8_t> reply) {
    return reply.size() >= static_cast<size_t>(min_search_reply_a) &&
           well_formed_search_reply_a(reply);
}

// The family table's search operations (frame/family.h).
request_datagram search_request_datagram_a();
bool parse_answer_a(const family_ops &family, const exchange &ex, kx_device_record &record);
// KX_OK, the code of the family whose device answered instead (16 for family
// B), or KX_E_TIMEOUT for an unrecognised answer (a family A answer that is
// not well formed included); KX_E_SOCKET for no answer.
search_one_outcome search_one_a(const family_ops &family, const char *ip_text,
                                kx_device_record *record);

}  // namespace kx
