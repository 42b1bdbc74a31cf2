// Test-side reading of the family B datagrams the library sent, and building
// of answers, written out by hand so that a fault in the library's own
// packet code cannot hide behind itself.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "device_b.h"
#include "kxconf.h"
#include "lan.h"
#include "support/records.h"

namespace wire_b {

using kxsim::bytes;

constexpr uint8_t key = 0xC5;
constexpr uint8_t sequence = 0x57;

// CRC-16/XMODEM bit by bit.
inline uint16_t crc_bitwise(const uint8_t *data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// The last two bytes, low first, hold the CRC of all before them.
inline bool crc_ok(const bytes &p) {
    if (p.size() < 2) return false;
    const uint16_t crc = crc_bitwise(p.data(), p.size() - 2);
    return p[p.size() - 2] == (crc & 0xFF) && p[p.size() - 1] == (crc >> 8);
}

inline bytes sealed(bytes p) {
    const uint16_t crc = crc_bitwise(p.data(), p.size() - 2);
    p[p.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    p[p.size() - 1] = static_cast<uint8_t>(crc >> 8);
    return p;
}

// A short answer: opcode at 8, sequence byte at 7, sealed.
inline bytes short_answer(uint8_t opcode, uint8_t seq, size_t length = 36) {
    bytes p(length, 0);
    p[7] = seq;
    p[8] = opcode;
    return sealed(p);
}

inline uint8_t plain(const bytes &p, size_t at) { return static_cast<uint8_t>(p[at] ^ key); }
inline uint16_t plain_be16(const bytes &p, size_t at) {
    return static_cast<uint16_t>((plain(p, at) << 8) | plain(p, at + 1));
}
inline uint16_t plain_le16(const bytes &p, size_t at) {
    return static_cast<uint16_t>(plain(p, at) | (plain(p, at + 1) << 8));
}
inline kxsim::device_id_bytes scrambled_id(const bytes &p, size_t at = 12) {
    kxsim::device_id_bytes id{};
    for (size_t i = 0; i < 6; ++i) id[i] = plain(p, at + i);
    return id;
}

// Bytes outside the listed fields of a short request must be zero.
inline bool zero_except(const bytes &p, std::initializer_list<std::pair<size_t, size_t>> fields) {
    for (size_t at = 0; at < 34 && at < p.size(); ++at) {
        bool inside = false;
        for (auto [from, to] : fields) inside = inside || (at >= from && at <= to);
        if (!inside && p[at] != 0) return false;
    }
    return true;
}

// A login record of which only family and password count.
inline kx_settings_record login_record(const std::string &password) {
    return kxtest::login_record(KX_FAMILY_B, password, 0x33);
}

using kxtest::elapsed_ms;

// Runs a call and reports how long it took.
template <typename Call>
int32_t timed(int64_t &ms, Call &&call) {
    const auto start = std::chrono::steady_clock::now();
    const int32_t result = call();
    ms = elapsed_ms(start);
    return result;
}

}  // namespace wire_b
