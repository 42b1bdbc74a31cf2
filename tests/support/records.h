// Records and clocks every test builds the same way.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>

#include "kxconf.h"

namespace kxtest {

// A record with every byte set to byte, so that a byte a call should not
// touch shows.
template <typename Record>
Record filled(uint8_t byte) {
    Record r;
    std::memset(&r, byte, sizeof r);
    return r;
}

// A login record: the family, the password (cut to its field, the rest of
// the field zero) and every other byte set to fill, which a login must not read.
inline kx_settings_record login_record(uint8_t family, const std::string &password,
                                       uint8_t fill = 0) {
    kx_settings_record r = filled<kx_settings_record>(fill);
    r.family = family;
    std::memset(r.password, 0, sizeof r.password);
    std::memcpy(r.password, password.data(),
                password.size() < sizeof r.password ? password.size() : sizeof r.password);
    return r;
}

// How many families the library speaks (kx_family_info): one search request
// each.
inline size_t family_count() {
    kx_family_record family;
    size_t count = 0;
    while (kx_family_info(static_cast<int32_t>(count), &family) == KX_OK) ++count;
    return count;
}

inline int64_t elapsed_ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 since)
        .count();
}

}  // namespace kxtest
