#include "frame/record_map.h"

#include <algorithm>
#include <cstring>

#include "frame/convert.h"

namespace kx {

namespace {

template <typename Number>
Number load(const uint8_t *at) {
    Number value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

template <typename Number>
void store(uint8_t *at, Number value) {
    std::memcpy(at, &value, sizeof value);
}

// The converters write into a copy of the destination field, so that bytes
// they leave alone (after a text's NUL, after an identifier's last
// component) keep what the destination held.
void address_to_text(const uint8_t *address, uint8_t *text_field) {
    uint8_t bytes[4];
    char text[16];
    std::memcpy(bytes, address, sizeof bytes);
    std::memcpy(text, text_field, sizeof text);
    ip_to_text(bytes, text);
    std::memcpy(text_field, text, sizeof text);
}

// A generic address field may fill all 16 bytes without a NUL, so the parser
// is handed a terminated copy rather than the field itself.
void address_from_text(const uint8_t *text_field, uint8_t *address) {
    char text[16 + 1];
    uint8_t bytes[4];
    std::memcpy(text, text_field, 16);
    text[16] = '\0';
    std::memcpy(bytes, address, sizeof bytes);
    ip_from_text(text, bytes);
    std::memcpy(address, bytes, sizeof bytes);
}

void id_from_text_field(const uint8_t *text_field, size_t width, uint8_t *id_field) {
    uint8_t id[6];
    std::memcpy(id, id_field, sizeof id);
    id_from_text(field_text(reinterpret_cast<const char *>(text_field), width), id);
    std::memcpy(id_field, id, sizeof id);
}

}  // namespace

uint32_t rate_of_code(const speed_list &speeds, uint8_t code) {
    return speeds.rates[code < speeds.rates.size() ? code : speeds.fallback_code];
}

uint8_t code_of_rate(const speed_list &speeds, uint32_t rate) {
    const auto found = std::find(speeds.rates.begin(), speeds.rates.end(), rate);
    return found != speeds.rates.end() ? static_cast<uint8_t>(found - speeds.rates.begin())
                                       : speeds.fallback_code;
}

void map_record(const record_map &map, toward direction, const uint8_t *from, uint8_t *to) {
    const bool to_generic = direction == toward::generic;
    for (const field_map &f : map.fields) {
        const uint8_t *source = from + (to_generic ? f.family_at : f.generic_at);
        uint8_t *target = to + (to_generic ? f.generic_at : f.family_at);
        switch (f.kind) {
            case map_kind::copy:
                std::memcpy(target, source, std::min(f.family_width, f.generic_width));
                break;
            case map_kind::address:
                if (to_generic)
                    address_to_text(source, target);
                else
                    address_from_text(source, target);
                break;
            case map_kind::id_text:
                if (to_generic)
                    id_from_text_field(source, f.family_width, target);
                else
                    id_to_text(source, reinterpret_cast<char *>(target), f.family_width);
                break;
            case map_kind::speed_hundreds:
                if (to_generic)
                    store<uint32_t>(target, uint32_t{load<uint16_t>(source)} * 100u);
                else  // whole hundreds only, and no more than 16 bits of them
                    store<uint16_t>(target, static_cast<uint16_t>(load<uint32_t>(source) / 100u));
                break;
            case map_kind::speed_code:
                if (to_generic)
                    store<uint32_t>(target, rate_of_code(map.speeds, source[0]));
                else
                    target[0] = code_of_rate(map.speeds, load<uint32_t>(source));
                break;
            case map_kind::generic_fixed:
                if (to_generic) std::memset(target, f.value, f.generic_width);
                break;
            case map_kind::fixed:
                target[0] = f.value;
                break;
        }
    }
}

}  // namespace kx
