// Bytes as one line of terminal text: printable ASCII stays as it is, every
// other byte, and the backslash that introduces the escapes, becomes \xNN.
// Shared by the simulator's trace and the tools' tables; it knows nothing of
// the devices' protocols.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace kxtext {

inline std::string escaped(const uint8_t *bytes, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t c = bytes[i];
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            out += escape;
        }
    }
    return out;
}

}  // namespace kxtext
