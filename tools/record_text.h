// The texts of a record as the tools print them: identifiers in dotted
// decimal, text fields up to their NUL or their end, never past the field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "../common/dotted.h"
#include "../common/escaped.h"

namespace kxtools {

// "0.16.10.0.0.1"
inline std::string identifier_text(const uint8_t *id) { return kxtext::dotted(id, 6); }

// A text field's bytes: up to its first NUL, or the whole field.
inline std::string field_text(const char *field, size_t width) {
    size_t length = 0;
    while (length < width && field[length] != '\0') ++length;
    return std::string(field, length);
}

// The same for a terminal: bytes outside printable ASCII escaped as \xNN.
inline std::string shown_text(const char *field, size_t width) {
    const std::string text = field_text(field, width);
    return kxtext::escaped(reinterpret_cast<const uint8_t *>(text.data()), text.size());
}

}  // namespace kxtools
