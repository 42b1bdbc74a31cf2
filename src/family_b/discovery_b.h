// Family B discovery: the search request (marker, opcode 1) and its answer,
// a whole settings packet whose identifying fields fill a device record.
#pragma once

#include <cstdint>
#include <span>

#include "family_b/packet_b.h"
#include "frame/family.h"
#include "kxconf.h"

namespace kx {

// The search request: marker, opcode 1 and the CRC, nothing else.
short_packet search_request_b();

// The family table's search operations (frame/family.h).
request_datagram search_request_datagram_b();
bool parse_answer_b(const family_ops &family, const exchange &ex, kx_device_record &record);
bool identify_answer_b(const family_ops &family, std::span<const uint8_t> answer,
                       kx_device_record &device);
search_one_outcome search_one_b(const family_ops &family, const char *ip_text,
                                kx_device_record *record);

}  // namespace kx
