// Bytes in dotted decimal ("0.16.10.0.1.1", "127.0.0.1"): identifiers and
// addresses as the simulator's trace and the tools print them. Shared by
// both; it knows nothing of the devices' protocols.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kxtext {

inline std::string dotted(const uint8_t *bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) text += '.';
        text += std::to_string(bytes[i]);
    }
    return text;
}

}  // namespace kxtext
