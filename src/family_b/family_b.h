// Family B's facts, and its entry in the family table. A family that speaks
// family B's protocol with a family code, a letter, a port and an answer to
// family A's probe of its own builds its entry with family_ops_b as well.
#pragma once

#include <cstdint>
#include <string_view>

#include "family_b/discovery_b.h"
#include "family_b/login_b.h"
#include "family_b/mapping_b.h"
#include "family_b/serial_b.h"
#include "family_b/settings_b.h"
#include "frame/exchange.h"
#include "frame/family.h"

namespace kx {

constexpr uint16_t family_b_port = 65280;

// The table entry of a family of family B's protocol.
constexpr family_ops family_ops_b(uint8_t code, char letter, uint16_t port,
                                  std::string_view probe_answer) {
    return {
        .code = code,
        .letter = letter,
        .name = "binary packets",
        .device_port = port,
        .record_size = sizeof(kxb_settings_record),
        .search_one_wait_ms = reply_wait_ms,
        .search_request = search_request_datagram_b,
        .parse_answer = parse_answer_b,
        .identify_answer = identify_answer_b,
        .probe_answer = probe_answer,
        .search_one = search_one_b,
        .login = login_b,
        .logout = logout_b,
        .settings_map = &settings_map_b,
        .read_record = read_record_b,
        .write_record = write_record_b,
        .set_baud = set_baud_b,
        .set_parity = set_parity_b,
        .set_data_bits = set_data_bits_b,
    };
}

extern const family_ops family_b_ops;

}  // namespace kx
