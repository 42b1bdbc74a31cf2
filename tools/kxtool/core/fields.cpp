#include "fields.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace kxtool {
namespace {

constexpr word on_off[] = {{0, "off"}, {1, "on"}};
constexpr word data_bit_words[] = {{5, "5 bits"}, {6, "6 bits"}, {7, "7 bits"}, {8, "8 bits"}};
constexpr word stop_bit_words[] = {{1, "1 bit"}, {2, "2 bits"}};

#define KX_AT(member) offsetof(kx_settings_record, member), sizeof(kx_settings_record::member)

// What a row's field is: a fact of the device (read-only), a setting, an
// identity setting (one that must differ from device to device on a
// network: its addresses and its name) or a secret (never printed).
enum class role { fact, setting, identity, secret };

constexpr field field_row(const char *name, kind type, size_t offset, size_t width, role what,
                          std::span<const word> words, const char *unit, const char *meaning) {
    return {name,
            type,
            offset,
            width,
            what != role::fact,
            what == role::identity,
            what == role::secret,
            words,
            unit,
            meaning};
}
constexpr role fact = role::fact, setting = role::setting, identity = role::identity,
               secret = role::secret;

// name, kind, where, role, words, unit, meaning.
const field fields_table[] = {
    field_row("family", kind::family, KX_AT(family), fact, {}, "", "device family, by its code"),
    field_row("on_text", kind::text, KX_AT(on_text), setting, {}, "characters",
              "a text setting the device keeps (family A command ON)"),
    field_row("password", kind::text, KX_AT(password), secret, {}, "characters",
              "configuration password, which the login presents"),
    field_row("device_name", kind::text, KX_AT(device_name), identity, {}, "characters",
              "the device's name"),
    field_row("firmware_version", kind::text, KX_AT(firmware_version), fact, {}, "characters",
              "firmware version, as the device reports it"),
    field_row("device_id", kind::identifier, KX_AT(device_id), fact, {}, "",
              "device identifier, six numbers 0 to 255; set at the factory"),
    field_row("ip_address", kind::address, KX_AT(ip_address), identity, {}, "",
              "the device's own IPv4 address; a new one takes effect when the device restarts"),
    field_row("local_port", kind::number, KX_AT(local_port), setting, {}, "",
              "the device's own port number for its serial line's data"),
    field_row("dest_ip", kind::address, KX_AT(dest_ip), setting, {}, "",
              "destination (peer) IPv4 address of the serial line's data"),
    field_row("dest_port", kind::number, KX_AT(dest_port), setting, {}, "",
              "destination (peer) port number"),
    field_row("subnet_mask", kind::address, KX_AT(subnet_mask), setting, {}, "",
              "subnet mask of the device's address"),
    field_row("gateway", kind::address, KX_AT(gateway), setting, {}, "",
              "default gateway of the device"),
    field_row("li_address", kind::address, KX_AT(li_address), identity, {}, "",
              "a further IPv4 address of the device's configuration (family A command LI); "
              "0.0.0.0 when unused"),
    field_row("li_address_2", kind::address, KX_AT(li_address_2), identity, {}, "",
              "a second further IPv4 address (family A command Li); 0.0.0.0 when unused"),
    field_row("dw_text", kind::text, KX_AT(dw_text), setting, {}, "characters",
              "a text setting the device keeps (family A command DW)"),
    field_row("tp_value", kind::number, KX_AT(tp_value), setting, {}, "",
              "a numeric setting the device keeps (family A command TP, one digit)"),
    field_row("rm_value", kind::number, KX_AT(rm_value), setting, {}, "",
              "a numeric setting the device keeps (family A command RM, one digit)"),
    field_row("dhcp_enabled", kind::number, KX_AT(dhcp_enabled), setting, on_off, "",
              "on: the device takes its address by DHCP; off: it keeps ip_address"),
    field_row("ww_flag", kind::number, KX_AT(ww_flag), setting, on_off, "",
              "an on/off setting the device keeps (family A command WW)"),
    field_row("dd_flag", kind::number, KX_AT(dd_flag), setting, on_off, "",
              "an on/off setting the device keeps (family A command DD)"),
    field_row("nb_flag", kind::number, KX_AT(nb_flag), setting, on_off, "",
              "an on/off setting of family A devices (command NB); family B has none"),
    field_row("keep_alive", kind::number, KX_AT(keep_alive), setting, {}, "",
              "the device's keep-alive setting for its data connection"),
    field_row("md_value", kind::number, KX_AT(md_value), setting, {}, "",
              "a numeric setting the device keeps (family A command MD)"),
    field_row("ml_value", kind::number, KX_AT(ml_value), setting, {}, "",
              "a numeric setting the device keeps (family A command ML)"),
    field_row("baud_rate", kind::baud, KX_AT(baud_rate), setting, {}, "bit/s", "serial-line speed"),
    field_row("parity", kind::number, KX_AT(parity), setting, {}, "",
              "serial-line parity, in the numbering of the device's family"),
    field_row("data_bits", kind::number, KX_AT(data_bits), setting, data_bit_words, "bits",
              "serial-line data bits"),
    field_row("stop_bits", kind::number, KX_AT(stop_bits), setting, stop_bit_words, "bits",
              "serial-line stop bits (family A devices have one)"),
    field_row("flow_control", kind::number, KX_AT(flow_control), setting, {}, "",
              "serial-line flow control (family A: off or on; family B: the device's code)"),
};

#undef KX_AT

bool present(range r) { return r.min <= r.max; }
bool in_range(uint32_t value, range r) { return r.min <= value && value <= r.max; }

std::string lower(std::string_view text) {
    std::string out(text);
    for (char &c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Words compare without case and without spaces: "8 Bits" is "8bits".
std::string word_key(std::string_view text) {
    std::string out;
    for (char c : lower(text))
        if (c != ' ') out += c;
    return out;
}

size_t edit_distance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// Record numbers are little-endian, the host order of every supported target.
uint32_t number_in(const kx_settings_record &record, const field &f) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record) + f.offset;
    uint32_t value = 0;
    for (size_t i = f.width; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

// Dotted decimal parts 0..255 without leading zeros.
bool dotted_parts(std::string_view text, int wanted, uint32_t *value = nullptr) {
    int parts = 0;
    size_t at = 0;
    uint32_t all = 0;
    while (true) {
        size_t end = text.find('.', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view part = text.substr(at, end - at);
        uint32_t n = 0;
        if (part.size() > 3 || (part.size() > 1 && part[0] == '0') || !parse_number(part, n) ||
            n > 255)
            return false;
        all = all << 8 | n;
        ++parts;
        if (end == text.size()) break;
        at = end + 1;
    }
    if (value != nullptr) *value = all;
    return parts == wanted;
}

// A text field's bytes as JSON text: each byte one character (U+0000 to
// U+00FF), so any content survives a save and is caught by the checks of a
// restore rather than changed.
nlohmann::json text_json(const char *field, size_t width) {
    std::string utf8;
    for (const char byte : kxtools::field_text(field, width)) {
        const auto c = static_cast<unsigned char>(byte);
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | c >> 6);
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::span<const word> words_for(const field &f, const family_traits *family) {
    if (family != nullptr)
        for (const kxtools::field_words &own : family->words)
            if (own.field == f.name) return own.words;
    return f.words;
}

// The families a check applies to: the device's, or every one before the
// device is known.
std::vector<const family_traits *> applicable(const family_traits *family) {
    if (family != nullptr) return {family};
    std::vector<const family_traits *> all;
    for (const family_traits &f : kxtools::families()) all.push_back(&f);
    return all;
}

std::string who(const family_traits *family) {
    return family != nullptr ? std::string("a family ") + family->letter + " device" : "the field";
}

// A text longer than the family takes; before the device is known, longer
// than every family takes.
std::string text_refusal(const field &f, const std::string &text, const family_traits *family) {
    uint32_t longest = 0;
    for (const family_traits *fam : applicable(family))
        longest = std::max(longest, range_of(*fam, f).max);
    if (text.size() <= longest) return {};
    if (family != nullptr)
        return "text too long: " + who(family) + " takes at most " + std::to_string(longest) +
               " characters";
    return "text too long: " + text_limits(f);
}

std::string number_refusal(const field &f, const nlohmann::json &value,
                           const family_traits *family) {
    range hull{UINT32_MAX, 0};
    std::string words;
    bool understood = false;
    for (const family_traits *fam : applicable(family)) {
        const range r = range_of(*fam, f);
        if (!present(r)) continue;
        const std::optional<uint32_t> code = code_of(f, value, *fam);
        if (code && in_range(*code, r)) return {};
        understood = understood || code.has_value();
        hull = {std::min(hull.min, r.min), std::max(hull.max, r.max)};
        for (const word &w : words_for(f, fam))
            if (words.find(std::string(w.text)) == std::string::npos)
                words += (words.empty() ? "" : ", ") + std::string(w.text);
    }
    if (!present(hull)) return who(family) + " has no such setting";
    const std::string takes = hull.min == hull.max
                                  ? std::to_string(hull.min) + " only"
                                  : std::to_string(hull.min) + " to " + std::to_string(hull.max);
    if (!understood)
        return "not a value of " + std::string(f.name) + ": " + who(family) + " takes " + takes +
               (words.empty() ? "" : " or one of " + words);
    return "out of range: " + who(family) + " takes " + takes;
}

}  // namespace

std::optional<uint32_t> code_of(const field &f, const nlohmann::json &value,
                                const family_traits &family) {
    if (value.is_number_unsigned()) {
        if (value.get<uint64_t>() > UINT32_MAX) return std::nullopt;
        return value.get<uint32_t>();
    }
    if (!value.is_string()) return std::nullopt;
    const std::string text = value;
    uint32_t n = 0;
    if (parse_number(text, n)) return n;
    for (const word &w : words_for(f, &family))
        if (word_key(w.text) == word_key(text)) return w.code;
    return std::nullopt;
}

std::span<const field> settings_fields() { return fields_table; }

const field *find_field(std::string_view name) {
    const std::string wanted = lower(name);
    for (const field &f : fields_table)
        if (wanted == f.name) return &f;
    return nullptr;
}

std::string unknown_field_text(std::string_view name) {
    const std::string wanted = lower(name);
    const field *best = nullptr;
    size_t best_distance = 0;
    for (const field &f : fields_table) {
        const std::string_view candidate = f.name;
        // "baudrate" and "baud" are near baud_rate too.
        size_t distance = edit_distance(word_key(wanted), word_key(candidate));
        if (wanted.size() >= 3 && candidate.starts_with(wanted)) distance = 1;
        std::string bare;
        for (char c : candidate)
            if (c != '_') bare += c;
        if (bare == wanted) distance = 0;
        if (best == nullptr || distance < best_distance) {
            best = &f;
            best_distance = distance;
        }
    }
    std::string text = "unknown field: " + std::string(name);
    if (best != nullptr && best_distance <= std::max<size_t>(2, wanted.size() / 3))
        text += " (did you mean " + std::string(best->name) + "?)";
    return text + "; kxtool fields lists them";
}

std::string identity_names() {
    std::string names;
    for (const field &f : fields_table)
        if (f.identity) names += (names.empty() ? "" : ", ") + std::string(f.name);
    return names;
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
bool valid_device_address(std::string_view text) {
    return valid_address(text) && text != "0.0.0.0" && text != "255.255.255.255";
}
bool valid_identifier(std::string_view text) { return dotted_parts(text, 6); }
bool address_value(std::string_view text, uint32_t &value) { return dotted_parts(text, 4, &value); }

std::string address_text(uint32_t value) {
    return std::to_string(value >> 24) + "." + std::to_string(value >> 16 & 0xFF) + "." +
           std::to_string(value >> 8 & 0xFF) + "." + std::to_string(value & 0xFF);
}

bool valid_setting_text(std::string_view text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E || c == '|' || c == '/') return false;
    return true;
}

range range_of(const family_traits &family, const field &f) {
    // A family without a table of its own carries every setting, as wide
    // as its field.
    if (family.limits.empty())
        return {0, f.type == kind::text ? static_cast<uint32_t>(f.width)
                   : f.width >= 4       ? UINT32_MAX
                                        : (1u << (8 * f.width)) - 1};
    for (const kxtools::limit &l : family.limits)
        if (l.field == f.name) return l.values;
    return {1, 0};
}

bool baud_fits(uint32_t value, const family_traits &family) {
    if (!family.speeds.empty())
        return std::find(family.speeds.begin(), family.speeds.end(), value) != family.speeds.end();
    return value >= family.speed_step && value % family.speed_step == 0 &&
           value <= family.speed_max;
}

std::string speeds_text(const family_traits &family) {
    std::string text;
    for (uint32_t speed : family.speeds) {
        if (!text.empty()) text += ' ';
        text += std::to_string(speed);
    }
    if (family.speeds.empty())
        text = family.speed_step == 1 ? "any speed up to " + std::to_string(family.speed_max)
                                      : "multiples of " + std::to_string(family.speed_step) +
                                            " up to " + std::to_string(family.speed_max);
    return text;
}

std::string words_text(const field &f, const family_traits &family) {
    const range r = range_of(family, f);
    std::string text;
    for (const word &w : words_for(f, &family))
        if (in_range(w.code, r))
            text += (text.empty() ? "" : ", ") + std::string(w.text) + " (" +
                    std::to_string(w.code) + ")";
    return text;
}

std::string field_takes(const field &f, const family_traits &family) {
    const range r = range_of(family, f);
    switch (f.type) {
        case kind::family:
            return std::to_string(family.code) + " (read-only)";
        case kind::identifier:
            return "six numbers 0 to 255 joined by dots (read-only)";
        case kind::address:
            return "a dotted IPv4 address";
        case kind::baud:
            return speeds_text(family);
        case kind::text:
            return "text of at most " + std::to_string(r.max) + " characters" +
                   (f.writable ? "" : " (read-only)");
        case kind::number:
            break;
    }
    if (r.min > r.max) return "not carried";
    std::string text = r.min == r.max ? std::to_string(r.min) + " only"
                                      : std::to_string(r.min) + " to " + std::to_string(r.max);
    const std::string words = words_text(f, family);
    return words.empty() ? text : text + ": " + words;
}

std::string text_limits(const field &f) {
    const auto families = kxtools::families();
    const uint32_t first = families.empty() ? 0 : range_of(families.front(), f).max;
    const bool differ =
        std::any_of(families.begin(), families.end(),
                    [&](const family_traits &family) { return range_of(family, f).max != first; });
    if (!differ) return "at most " + std::to_string(first) + " characters";
    return "at most " +
           kxtools::every_family(
               [&](const family_traits &family) {
                   return std::to_string(range_of(family, f).max) + " (family " + family.letter +
                          ")";
               },
               " or ") +
           " characters";
}

nlohmann::json typed_value(const field &f, const std::string &text) {
    uint32_t n = 0;
    if ((f.type == kind::number || f.type == kind::baud || f.type == kind::family) &&
        parse_number(text, n))
        return n;
    return text;
}

std::string refusal(const field &f, const nlohmann::json &value, const family_traits *family) {
    if (!f.writable) return "read-only field";
    switch (f.type) {
        case kind::text: {
            if (!value.is_string()) return "must be a text";
            const std::string text = value;
            if (!valid_setting_text(text)) return "text must be printable ASCII without '|' or '/'";
            return text_refusal(f, text, family);
        }
        case kind::address:
            if (!value.is_string() || !valid_address(value.get<std::string>()))
                return "not a dotted IPv4 address (a.b.c.d, each 0 to 255, no leading zeros)";
            return {};
        case kind::baud:
            for (const family_traits *fam : applicable(family)) {
                const std::optional<uint32_t> speed = code_of(f, value, *fam);
                if (speed && baud_fits(*speed, *fam)) return {};
            }
            {
                std::string speeds;
                for (const family_traits *fam : applicable(family))
                    speeds += (speeds.empty() ? "family " : "; family ") +
                              std::string(fam->letter) + ": " + speeds_text(*fam);
                return "speed not carried by " + who(family) + " (" + speeds + ")";
            }
        case kind::number:
            return number_refusal(f, value, family);
        case kind::family:
        case kind::identifier:
            break;
    }
    return "read-only field";
}

void put_value(kx_settings_record &record, const field &f, const nlohmann::json &value,
               const family_traits &family) {
    auto *bytes = reinterpret_cast<uint8_t *>(&record) + f.offset;
    if (f.type == kind::text || f.type == kind::address) {
        // The checks keep the text within the field; the rest is cleared.
        const std::string text = value;
        std::memset(bytes, 0, f.width);
        std::memcpy(bytes, text.data(), std::min(text.size(), f.width));
        return;
    }
    uint32_t n = code_of(f, value, family).value_or(0);
    for (size_t i = 0; i < f.width; ++i, n >>= 8) bytes[i] = static_cast<uint8_t>(n);
}

nlohmann::json value_json(const kx_settings_record &record, const field &f) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&record) + f.offset;
    switch (f.type) {
        case kind::text:
        case kind::address:
            return text_json(reinterpret_cast<const char *>(bytes), f.width);
        case kind::identifier:
            return identifier_text(bytes);
        case kind::family:
        case kind::number:
        case kind::baud:
            break;
    }
    return number_in(record, f);
}

std::string value_text(const kx_settings_record &record, const field &f) {
    const char *bytes = reinterpret_cast<const char *>(&record) + f.offset;
    if (f.secret) return kxtools::field_text(bytes, f.width).empty() ? "(none)" : "(set)";
    if (f.type == kind::text || f.type == kind::address) return shown_text(bytes, f.width);
    if (f.type == kind::identifier) return value_json(record, f).get<std::string>();
    const uint32_t code = number_in(record, f);
    if (f.type == kind::family) return family_letter(code) + (" (" + std::to_string(code) + ")");
    for (const word &w : words_for(f, family_by_code(record.family)))
        if (w.code == code) return std::string(w.text);
    return std::to_string(code);
}

nlohmann::ordered_json settings_json(const kx_settings_record &record, bool with_password) {
    // Parity goes by its word: the families number it differently (family A
    // swaps odd and even), the words mean one parity on both. A code without
    // a word stays a number, the device's own.
    const field &parity = *find_field("parity");
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (const field &f : fields_table) {
        if (!with_password && f.secret) continue;
        out[f.name] = value_json(record, f);
        if (&f == &parity)
            for (const word &w : words_for(f, family_by_code(record.family)))
                if (w.code == record.parity) out[f.name] = w.text;
    }
    return out;
}

nlohmann::ordered_json device_json(const kx_device_record &d) {
    return nlohmann::ordered_json{
        {"family", d.family},
        {"firmware_version", text_json(d.firmware_version, sizeof d.firmware_version)},
        {"device_name", text_json(d.device_name, sizeof d.device_name)},
        {"device_id", identifier_text(d.device_id)},
        {"ip_address", text_json(d.ip_address, sizeof d.ip_address)},
        {"local_port", d.local_port},
        {"dest_ip", text_json(d.dest_ip, sizeof d.dest_ip)},
        {"subnet_mask", text_json(d.subnet_mask, sizeof d.subnet_mask)},
        {"gateway", text_json(d.gateway, sizeof d.gateway)},
        {"li_address", text_json(d.li_address, sizeof d.li_address)},
        {"li_address_2", text_json(d.li_address_2, sizeof d.li_address_2)},
    };
}

}  // namespace kxtool
