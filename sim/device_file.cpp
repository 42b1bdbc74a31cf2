#include "device_file.h"

#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "device_a.h"
#include "device_b.h"
#include "families.h"

namespace kxsim {
namespace {

using nlohmann::json;

// How a backup's value becomes the device's own value.
enum class form { text, address, number, baud, data_bits, ignored };

// A family A device keeps every setting as the value text of its get
// command, keyed by the command's letters. most: the longest text, or the
// largest number, the device holds (a digit setting holds 0 to 9).
struct field_a {
    std::string_view name, letters;
    form kind;
    uint32_t most;
};

constexpr field_a fields_a[] = {
    {"on_text", "ON", form::text, 9},        {"password", "PW", form::text, 9},
    {"device_name", "DN", form::text, 9},    {"firmware_version", "V", form::text, 15},
    {"ip_address", "IP", form::address, 0},  {"local_port", "PN", form::number, 65535},
    {"dest_ip", "DI", form::address, 0},     {"dest_port", "DP", form::number, 65535},
    {"subnet_mask", "NM", form::address, 0}, {"gateway", "GI", form::address, 0},
    {"li_address", "LI", form::address, 0},  {"li_address_2", "Li", form::address, 0},
    {"dw_text", "DW", form::text, 30},       {"tp_value", "TP", form::number, 9},
    {"rm_value", "RM", form::number, 9},     {"dhcp_enabled", "DH", form::number, 1},
    {"ww_flag", "WW", form::number, 1},      {"dd_flag", "DD", form::number, 1},
    {"nb_flag", "NB", form::number, 1},      {"keep_alive", "KL", form::number, 255},
    {"md_value", "MD", form::number, 255},   {"ml_value", "ML", form::number, 65535},
    {"baud_rate", "BR", form::baud, 0},      {"parity", "PR", form::number, 9},
    {"data_bits", "BB", form::data_bits, 0}, {"flow_control", "FC", form::number, 1},
    {"stop_bits", "", form::ignored, 0},  // a family A device has one stop bit
};

// The speeds a family A device knows, by code.
constexpr uint32_t speeds_a[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

bool printable_text(const std::string &text) {
    for (char c : text)
        if (c < 0x20 || c > 0x7E || c == '|' || c == '/') return false;
    return true;
}

// Dotted decimal parts 0 to 255 without leading zeros, as many as wanted.
bool dotted(const std::string &text, int parts) {
    int seen = 0;
    size_t digits = 0;
    int value = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        const char c = i < text.size() ? text[i] : '.';
        if (c >= '0' && c <= '9') {
            if (digits == 1 && value == 0) return false;  // a leading zero
            value = value * 10 + (c - '0');
            if (++digits > 3 || value > 255) return false;
        } else if (c == '.' && digits > 0) {
            ++seen;
            digits = 0;
            value = 0;
        } else {
            return false;
        }
    }
    return seen == parts;
}

bool dotted_address(const std::string &text) { return dotted(text, 4); }

// Names every entry may carry besides the settings.
bool entry_fact(std::string_view name) {
    return name == "address" || name == "family" || name == "device_id";
}

std::string text_of(const json &value, const std::string &name, std::string &error) {
    if (!value.is_string()) error = name + " must be a string";
    return value.is_string() ? value.get<std::string>() : std::string();
}

uint32_t number_of(const json &value, const std::string &name, uint32_t most, std::string &error) {
    if (!value.is_number_unsigned() || value.get<uint64_t>() > most) {
        error = name + " must be a number from 0 to " + std::to_string(most);
        return 0;
    }
    return value.get<uint32_t>();
}

}  // namespace

std::string configure_a(device &target, const json &entry) {
    auto &d = static_cast<device_a &>(target);
    for (const auto &[name, value] : entry.items()) {
        if (entry_fact(name)) continue;
        const field_a *f = nullptr;
        for (const auto &candidate : fields_a)
            if (candidate.name == name) f = &candidate;
        if (f == nullptr) return "unknown setting " + name + " for family A";
        std::string error, text;
        switch (f->kind) {
            case form::text:
                // '|' would end a command's value and '/' a search reply's field.
                text = text_of(value, name, error);
                if (error.empty() && text.size() > f->most)
                    error = name + " is longer than " + std::to_string(f->most) + " characters";
                if (error.empty() && !printable_text(text))
                    error = name + " must be printable ASCII without '|' or '/'";
                break;
            case form::address:
                text = text_of(value, name, error);
                if (error.empty() && !dotted_address(text))
                    error = name + " is not a dotted IPv4 address";
                break;
            case form::number:
                text = std::to_string(number_of(value, name, f->most, error));
                break;
            case form::baud: {
                const uint32_t rate = number_of(value, name, UINT32_MAX, error);
                text = "?";
                for (size_t code = 0; code < std::size(speeds_a); ++code)
                    if (speeds_a[code] == rate) text = std::to_string(code);
                if (error.empty() && text == "?")
                    error = "no family A speed " + std::to_string(rate);
                break;
            }
            case form::data_bits: {
                const uint32_t bits = number_of(value, name, 8, error);
                if (error.empty() && bits != 7 && bits != 8) error = "data_bits must be 7 or 8";
                text = bits == 7 ? "0" : "1";
                break;
            }
            case form::ignored:
                continue;
        }
        if (!error.empty()) return error;
        d.set_setting(std::string(f->letters), text);
    }
    return {};
}

namespace {

template <size_t N>
std::string put_text(std::array<uint8_t, N> &field, const json &value, const std::string &name) {
    std::string error;
    const std::string text = text_of(value, name, error);
    if (error.empty() && text.size() > N) error = name + " is longer than " + std::to_string(N);
    field = text_field<N>(text);
    return error;
}

std::string put_address(ipv4_bytes &field, const json &value, const std::string &name) {
    std::string error;
    const std::string text = text_of(value, name, error);
    field = ipv4(text);
    if (error.empty() && !dotted_address(text)) error = name + " is not a dotted IPv4 address";
    return error;
}

template <typename T>
std::string put_number(T &field, const json &value, const std::string &name) {
    std::string error;
    field = static_cast<T>(number_of(value, name, T(~T(0)), error));
    return error;
}

}  // namespace

std::string configure_b(device &target, const json &entry) {
    auto &d = static_cast<device_b &>(target);
    settings_b s = d.settings();
    for (const auto &[name, value] : entry.items()) {
        std::string error;
        if (entry_fact(name) || name == "nb_flag") continue;  // family B has no nb_flag
        if (name == "on_text")
            error = put_text(s.on_text, value, name);
        else if (name == "password")
            error = put_text(s.password, value, name);
        else if (name == "device_name")
            error = put_text(s.name, value, name);
        else if (name == "firmware_version")
            error = put_text(s.firmware, value, name);
        else if (name == "dw_text")
            error = put_text(s.dw_text, value, name);
        else if (name == "ip_address")
            error = put_address(s.ip, value, name);
        else if (name == "dest_ip")
            error = put_address(s.dest_ip, value, name);
        else if (name == "subnet_mask")
            error = put_address(s.mask, value, name);
        else if (name == "gateway")
            error = put_address(s.gateway, value, name);
        else if (name == "li_address")
            error = put_address(s.li, value, name);
        else if (name == "li_address_2")
            error = put_address(s.li2, value, name);
        else if (name == "local_port")
            error = put_number(s.local_port, value, name);
        else if (name == "dest_port")
            error = put_number(s.dest_port, value, name);
        else if (name == "ml_value")
            error = put_number(s.ml, value, name);
        else if (name == "tp_value")
            error = put_number(s.tp, value, name);
        else if (name == "rm_value")
            error = put_number(s.rm, value, name);
        else if (name == "dhcp_enabled")
            error = put_number(s.dhcp, value, name);
        else if (name == "ww_flag")
            error = put_number(s.ww, value, name);
        else if (name == "dd_flag")
            error = put_number(s.dd, value, name);
        else if (name == "keep_alive")
            error = put_number(s.keep_alive, value, name);
        else if (name == "md_value")
            error = put_number(s.md, value, name);
        else if (name == "parity")
            error = put_number(s.parity, value, name);
        else if (name == "data_bits")
            error = put_number(s.data_bits, value, name);
        else if (name == "stop_bits")
            error = put_number(s.stop_bits, value, name);
        else if (name == "flow_control")
            error = put_number(s.flow, value, name);
        else if (name == "baud_rate") {
            uint32_t rate = number_of(value, name, 6553500, error);
            if (error.empty() && rate % 100 != 0) error = "baud_rate must be a multiple of 100";
            s.baud_hundreds = static_cast<uint16_t>(rate / 100);
        } else {
            error = "unknown setting " + name + " for family B";
        }
        if (!error.empty()) return error;
    }
    d.set_settings(s);  // the login checks the settings' password
    return {};
}

namespace {

// The codes of every family, as a device file may give them ("1 or 16").
std::string family_codes() {
    std::string text;
    const auto all = families();
    for (size_t i = 0; i < all.size(); ++i) {
        if (i > 0) text += i + 1 < all.size() ? ", " : " or ";
        text += std::to_string(all[i].wire.code);
    }
    return text;
}

}  // namespace

std::shared_ptr<device> device_from_json(const json &entry, size_t index, std::string &error) {
    if (!entry.is_object()) {
        error = "not an object";
        return nullptr;
    }
    if (!entry.contains("address") || !entry["address"].is_string() ||
        !dotted_address(entry.at("address").get<std::string>())) {
        error = "needs \"address\", a dotted IPv4 address";
        return nullptr;
    }
    if (entry.contains("device_id") &&
        (!entry.at("device_id").is_string() || !dotted(entry.at("device_id"), 6))) {
        error = "device_id must be six numbers 0 to 255 joined by dots (0.16.10.0.0.1)";
        return nullptr;
    }
    const std::string address = entry.at("address");
    const json code = entry.value("family", json(families().front().wire.code));
    const family_entry *family = nullptr;
    for (const family_entry &f : families())
        if (code == f.wire.code) family = &f;
    if (family == nullptr) {
        error = "family must be " + family_codes();
        return nullptr;
    }
    device_id_bytes id{
        0, 16, 12, 0, static_cast<uint8_t>(index / 256), static_cast<uint8_t>(index % 256)};
    if (entry.contains("device_id")) identifier_bytes(entry.at("device_id").get<std::string>(), id);
    auto d = family->kind.make(*family, address, id,
                               std::string("SIM-") + family->letter + std::to_string(index));
    error = family->kind.configure(*d, entry);
    return d;
}

std::string devices_from_json(const json &list, std::vector<std::shared_ptr<device>> &out) {
    if (!list.is_array()) return "the file must hold a list of devices";
    for (size_t i = 0; i < list.size(); ++i) {
        std::string error;
        auto d = device_from_json(list[i], out.size() + 1, error);
        if (!error.empty() || d == nullptr) return "device " + std::to_string(i + 1) + ": " + error;
        out.push_back(std::move(d));
    }
    return {};
}

}  // namespace kxsim
