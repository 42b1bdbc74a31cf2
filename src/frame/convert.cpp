#include "frame/convert.h"

#include <cstring>

#include "kxconf.h"
#include "platform/platform.h"

namespace kx {

void ip_to_text(const uint8_t (&address)[4], char (&text)[16]) {
    platform::ipv4_net net;
    std::memcpy(&net, address, 4);
    platform::format_ipv4(net, text);
}

void ip_from_text(const char *text, uint8_t (&address)[4]) {
    platform::ipv4_net net = platform::parse_ipv4(text != nullptr ? text : "");
    std::memcpy(address, &net, 4);
}

void id_to_text(const uint8_t *id, char *text, size_t capacity) {
    size_t at = 0;
    for (size_t i = 0; i < 6; ++i) {
        char digits[3];
        int n = 0;
        unsigned value = id[i];
        do {
            digits[n++] = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value != 0);
        while (n > 0 && at + 1 < capacity) text[at++] = digits[--n];
        if (i < 5 && at + 1 < capacity) text[at++] = '.';
    }
    if (capacity > 0) text[at] = '\0';
}

void id_from_text(std::string_view text, uint8_t (&id)[6]) {
    size_t at = 0;
    for (size_t index = 0; index < 6; ++index) {
        uint8_t value = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            value = static_cast<uint8_t>(value * 10 + (text[at] - '0'));
            ++at;
        }
        id[index] = value;
        if (at >= text.size() || text[at] != '.') return;
        ++at;
    }
}

size_t text_length(const char *text) { return text != nullptr ? std::strlen(text) : 0; }

std::string_view field_text(const char *field, size_t width) {
    const void *nul = std::memchr(field, '\0', width);
    return {field,
            nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - field) : width};
}

}  // namespace kx
