#include "fields.h"

#include <cstdio>
#include <cstring>

namespace kxtool {
namespace {

constexpr range absent{1, 0};
constexpr range byte_values{0, 255};
constexpr range word_values{0, 65535};
constexpr range flag_values{0, 1};
constexpr range digit_values{0, 9};  // family A keeps these settings as one digit

#define KX_AT(member) offsetof(kx_settings_record, member), sizeof(kx_settings_record::member)

// Each row ends with the family A range, then the family B one. Family A
// texts keep room for their NUL; family B texts may fill their
// field. A family A device always has one stop bit and a family B device no
// nb_flag (reads give 0), so those take one value only.
const std::vector<field> fields_table = {
    {"family", kind::family, KX_AT(family), false, {byte_values, byte_values}},
    {"on_text", kind::text, KX_AT(on_text), true, {{0, 9}, {0, 10}}},
    {"password", kind::text, KX_AT(password), true, {{0, 9}, {0, 10}}},
    {"device_name", kind::text, KX_AT(device_name), true, {{0, 9}, {0, 10}}},
    {"firmware_version", kind::text, KX_AT(firmware_version), false, {{0, 15}, {0, 16}}},
    {"device_id", kind::identifier, KX_AT(device_id), false, {absent, absent}},
    {"ip_address", kind::address, KX_AT(ip_address), true, {absent, absent}},
    {"local_port", kind::number, KX_AT(local_port), true, {word_values, word_values}},
    {"dest_ip", kind::address, KX_AT(dest_ip), true, {absent, absent}},
    {"dest_port", kind::number, KX_AT(dest_port), true, {word_values, word_values}},
    {"subnet_mask", kind::address, KX_AT(subnet_mask), true, {absent, absent}},
    {"gateway", kind::address, KX_AT(gateway), true, {absent, absent}},
    {"li_address", kind::address, KX_AT(li_address), true, {absent, absent}},
    {"li_address_2", kind::address, KX_AT(li_address_2), true, {absent, absent}},
    {"dw_text", kind::text, KX_AT(dw_text), true, {{0, 29}, {0, 30}}},
    {"tp_value", kind::number, KX_AT(tp_value), true, {digit_values, byte_values}},
    {"rm_value", kind::number, KX_AT(rm_value), true, {digit_values, byte_values}},
    {"dhcp_enabled", kind::number, KX_AT(dhcp_enabled), true, {flag_values, flag_values}},
    {"ww_flag", kind::number, KX_AT(ww_flag), true, {flag_values, flag_values}},
    {"dd_flag", kind::number, KX_AT(dd_flag), true, {flag_values, flag_values}},
    {"nb_flag", kind::number, KX_AT(nb_flag), true, {flag_values, {0, 0}}},
    {"keep_alive", kind::number, KX_AT(keep_alive), true, {byte_values, byte_values}},
    {"md_value", kind::number, KX_AT(md_value), true, {byte_values, byte_values}},
    {"ml_value", kind::number, KX_AT(ml_value), true, {word_values, word_values}},
    {"baud_rate", kind::baud, KX_AT(baud_rate), true, {absent, absent}},
    {"parity", kind::number, KX_AT(parity), true, {digit_values, byte_values}},
    {"data_bits", kind::number, KX_AT(data_bits), true, {{7, 8}, {5, 8}}},
    {"stop_bits", kind::number, KX_AT(stop_bits), true, {{1, 1}, {1, 2}}},
    {"flow_control", kind::number, KX_AT(flow_control), true, {flag_values, byte_values}},
};

#undef KX_AT

bool present(range r) { return r.min <= r.max; }
bool in_range(uint32_t value, range r) { return r.min <= value && value <= r.max; }

range either(range a, range b) {
    if (!present(a)) return b;
    if (!present(b)) return a;
    return {a.min < b.min ? a.min : b.min, a.max > b.max ? a.max : b.max};
}

// Record numbers are little-endian, the host order of every supported target.
uint32_t number_in(const kx_settings_record &record, const field &f) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record) + f.offset;
    uint32_t value = 0;
    for (size_t i = f.width; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

// Dotted decimal parts 0..255 without leading zeros.
bool dotted_parts(std::string_view text, int wanted) {
    int parts = 0;
    size_t at = 0;
    while (true) {
        size_t end = text.find('.', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view part = text.substr(at, end - at);
        uint32_t value = 0;
        if (part.size() > 3 || (part.size() > 1 && part[0] == '0') || !parse_number(part, value) ||
            value > 255)
            return false;
        ++parts;
        if (end == text.size()) break;
        at = end + 1;
    }
    return parts == wanted;
}

// A text field's bytes as JSON text: each byte one character (U+0000 to
// U+00FF), so any content survives a save and is caught by the checks of a
// restore rather than changed.
nlohmann::json text_json(const char *field, size_t width) {
    std::string utf8;
    for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

}  // namespace

const std::vector<field> &settings_fields() { return fields_table; }

const field *find_field(std::string_view name) {
    for (const field &f : fields_table)
        if (name == f.name) return &f;
    return nullptr;
}

bool parse_number(std::string_view text, uint32_t &value) {
    if (text.empty() || text.size() > 10) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > UINT32_MAX) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool valid_address(std::string_view text) { return dotted_parts(text, 4); }
bool valid_identifier(std::string_view text) { return dotted_parts(text, 6); }

bool valid_setting_text(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E || c == '|' || c == '/') return false;
    return true;
}

bool baud_fits(uint32_t value, uint8_t family) {
    // Family A keeps one of eight speed codes; family B keeps hundreds in 16 bits.
    const bool fits_a = kx::carries_speed_a(value);
    const bool fits_b = value >= 100 && value % 100 == 0 && value / 100 <= 65535;
    if (family == KX_FAMILY_A) return fits_a;
    if (family == KX_FAMILY_B) return fits_b;
    return fits_a || fits_b;
}

std::string speeds_text() {
    std::string text = "family A:";
    for (uint32_t speed : kx::baud_rates_a) text += " " + std::to_string(speed);
    return text + "; family B: multiples of 100 up to 6553500";
}

std::string id_text(const uint8_t *id) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u.%u.%u", id[0], id[1], id[2], id[3], id[4], id[5]);
    return text;
}

std::string shown_text(const char *field, size_t width) {
    std::string out;
    for (size_t i = 0; i < width && field[i] != '\0'; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    return out;
}

nlohmann::json value_json(const kx_settings_record &record, const field &f) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record) + f.offset;
    switch (f.type) {
        case kind::text:
        case kind::address:
            return text_json(reinterpret_cast<const char *>(bytes), f.width);
        case kind::identifier:
            return id_text(bytes);
        case kind::family:
        case kind::number:
        case kind::baud:
            break;
    }
    return number_in(record, f);
}

// As a table shows it: texts with their odd bytes escaped, the rest as in JSON.
std::string value_text(const kx_settings_record &record, const field &f) {
    if (f.type == kind::text || f.type == kind::address) {
        const auto *bytes = reinterpret_cast<const char *>(&record) + f.offset;
        return shown_text(bytes, f.width);
    }
    const nlohmann::json value = value_json(record, f);
    return value.is_string() ? value.get<std::string>() : value.dump();
}

nlohmann::ordered_json settings_json(const kx_settings_record &record) {
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (const field &f : fields_table) out[f.name] = value_json(record, f);
    return out;
}

nlohmann::ordered_json device_json(const kx_device_record &d) {
    return nlohmann::ordered_json{
        {"family", d.family},
        {"firmware_version", text_json(d.firmware_version, sizeof d.firmware_version)},
        {"device_name", text_json(d.device_name, sizeof d.device_name)},
        {"device_id", id_text(d.device_id)},
        {"ip_address", text_json(d.ip_address, sizeof d.ip_address)},
        {"local_port", d.local_port},
        {"dest_ip", text_json(d.dest_ip, sizeof d.dest_ip)},
        {"subnet_mask", text_json(d.subnet_mask, sizeof d.subnet_mask)},
        {"gateway", text_json(d.gateway, sizeof d.gateway)},
        {"li_address", text_json(d.li_address, sizeof d.li_address)},
        {"li_address_2", text_json(d.li_address_2, sizeof d.li_address_2)},
    };
}

nlohmann::json typed_value(const field &f, const std::string &text) {
    uint32_t n = 0;
    if ((f.type == kind::number || f.type == kind::baud || f.type == kind::family) &&
        parse_number(text, n))
        return n;
    return text;
}

// The ranges that apply: the family's own, or every family's while the
// device is not known.
struct applicable {
    range ranges[std::size(known_families)];
    size_t count = 0;
};

applicable ranges_for(const field &f, uint8_t family) {
    applicable out;
    bool known = false;
    for (uint8_t code : known_families) known = known || code == family;
    for (size_t i = 0; i < std::size(known_families); ++i)
        if (!known || known_families[i] == family) out.ranges[out.count++] = f.values[i];
    return out;
}

range hull(const applicable &a) {
    range r = absent;
    for (size_t i = 0; i < a.count; ++i) r = either(r, a.ranges[i]);
    return r;
}

bool fits_any(const applicable &a, uint32_t value) {
    for (size_t i = 0; i < a.count; ++i)
        if (in_range(value, a.ranges[i])) return true;
    return false;
}

std::string refusal(const field &f, const nlohmann::json &value, uint8_t family) {
    const applicable ranges = ranges_for(f, family);
    const std::string letter = family_letter(family);
    const std::string who = letter != "?" ? "a family " + letter + " device" : "the field";
    if (!f.writable) return "read-only field";
    switch (f.type) {
        case kind::text: {
            if (!value.is_string()) return "must be a text";
            const std::string text = value;
            if (!valid_setting_text(text)) return "text must be printable ASCII without '|' or '/'";
            const uint32_t longest = hull(ranges).max;
            if (text.size() > longest)
                return "text too long: " + who + " takes at most " + std::to_string(longest) +
                       " characters";
            return {};
        }
        case kind::address:
            if (!value.is_string() || !valid_address(value.get<std::string>()))
                return "not a dotted IPv4 address (a.b.c.d, each 0 to 255, no leading zeros)";
            return {};
        case kind::baud:
            if (!value.is_number_unsigned() || value.get<uint64_t>() > UINT32_MAX ||
                !baud_fits(value.get<uint32_t>(), family))
                return "speed not carried by " + who + " (" + speeds_text() + ")";
            return {};
        case kind::number: {
            const range r = hull(ranges);
            if (!present(r)) return who + " has no such setting";
            const bool fits = value.is_number_unsigned() && value.get<uint64_t>() <= UINT32_MAX &&
                              fits_any(ranges, value.get<uint32_t>());
            if (fits) return {};
            if (r.min == r.max)
                return "out of range: " + who + " takes " + std::to_string(r.min) + " only";
            return "out of range: " + who + " takes " + std::to_string(r.min) + " to " +
                   std::to_string(r.max);
        }
        case kind::family:
        case kind::identifier:
            break;
    }
    return "read-only field";
}

void put_value(kx_settings_record &record, const field &f, const nlohmann::json &value) {
    auto *bytes = reinterpret_cast<uint8_t *>(&record) + f.offset;
    if (f.type == kind::text || f.type == kind::address) {
        // The checks keep the text within the field; the rest is cleared.
        const std::string text = value;
        std::memset(bytes, 0, f.width);
        std::memcpy(bytes, text.data(), text.size() < f.width ? text.size() : f.width);
        return;
    }
    uint32_t n = value.get<uint32_t>();
    for (size_t i = 0; i < f.width; ++i, n >>= 8) bytes[i] = static_cast<uint8_t>(n);
}

}  // namespace kxtool
