// What the tools know of each device family. The library tells which
// families there are and their facts (kx_family_info: code, letter, name,
// device port, record size); the tools add one table per family they know:
// the serial speeds it carries, the range of every setting on it, the words
// its codes go by and how its devices behave. A family the library speaks
// without a table here is shown and configured all the same, every setting
// as wide as its field. Adding a family to the tools is one table in
// `tables` below, where it needs words or ranges of its own.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kxconf.h"

namespace kxtools {

struct range {
    uint32_t min, max;
};

// A setting the family carries: for a number the values it takes, for a
// text its length. A setting a family's table does not list is one it
// lacks; a family without a table carries every setting.
struct limit {
    std::string_view field;
    range values;
};

// A code and the word tables print for it (and set accepts for it).
struct word {
    uint32_t code;
    std::string_view text;
};

struct field_words {
    std::string_view field;
    std::span<const word> words;
};

// The tools' table of one family, by its code.
struct family_table {
    uint8_t code;
    // The serial speeds in bit/s: a list, or every multiple of speed_step up
    // to speed_max when the list is empty.
    std::span<const uint32_t> speeds;
    uint32_t speed_step, speed_max;
    // Empty: every setting, as wide as its field.
    std::span<const limit> limits;
    // Words for codes that only mean something on this family.
    std::span<const field_words> words;
    // The argument kx_setting_parity takes for each parity code that show
    // prints, where the family's quick setter numbers them its own way (and
    // carries no others); empty: the code itself, any code.
    std::span<const uint8_t> quick_parity;
    // Whether a device that does not answer at an address of its own may be
    // reached by broadcast, selected by its identifier, without touching any
    // other device's settings. On family A that conversation ends with a
    // broadcast "O", which also ends any other family A conversation (a host
    // holds one at a time).
    bool reached_by_identifier;
    // Whether every request of a conversation names the device (family B's
    // packets carry its identifier), so that two devices at one address are
    // told apart. Family A's get and set commands do not (only the selection
    // command that opens the conversation does), so both devices would
    // answer them.
    bool requests_name_device;
    // Whether a write ends with a closing datagram sent by broadcast (family
    // A's "E"), which a device that holds changes of a write left half-sent
    // (by a program killed in the middle of it) would take as its own end
    // too. kxtool first abandons any such write with the family's logout by
    // broadcast ("O"), which ends every device's conversation.
    bool write_closes_by_broadcast;
    // Whether a device answers a read without a login, so that a search may
    // read what the family's search answer leaves out (family A's firmware).
    bool reads_without_login;
};

// A family as the library lists it, with the tools' table for it.
struct family_traits : family_table {
    char letter[2];        // "A"
    std::string name;      // what its devices speak
    uint16_t device_port;  // where they listen
    uint16_t record_size;  // the family's own settings record
    bool known;            // the tools have a table for it
};

namespace detail {

inline constexpr uint32_t speeds_a[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// Family A keeps its texts with room for a NUL, except dw_text, which may
// fill its 30 bytes; some settings are one decimal digit; one stop bit.
inline constexpr limit limits_a[] = {
    {"on_text", {0, 9}},           {"password", {0, 9}},     {"device_name", {0, 9}},
    {"firmware_version", {0, 15}}, {"dw_text", {0, 30}},     {"local_port", {0, 65535}},
    {"dest_port", {0, 65535}},     {"tp_value", {0, 9}},     {"rm_value", {0, 9}},
    {"dhcp_enabled", {0, 1}},      {"ww_flag", {0, 1}},      {"dd_flag", {0, 1}},
    {"nb_flag", {0, 1}},           {"keep_alive", {0, 255}}, {"md_value", {0, 255}},
    {"ml_value", {0, 65535}},      {"parity", {0, 9}},       {"data_bits", {7, 8}},
    {"stop_bits", {1, 1}},         {"flow_control", {0, 1}},
};

// Family B texts may fill their fields; it has no nb_flag (reads give 0).
inline constexpr limit limits_b[] = {
    {"on_text", {0, 10}},          {"password", {0, 10}},      {"device_name", {0, 10}},
    {"firmware_version", {0, 16}}, {"dw_text", {0, 30}},       {"local_port", {0, 65535}},
    {"dest_port", {0, 65535}},     {"tp_value", {0, 255}},     {"rm_value", {0, 255}},
    {"dhcp_enabled", {0, 1}},      {"ww_flag", {0, 1}},        {"dd_flag", {0, 1}},
    {"nb_flag", {0, 0}},           {"keep_alive", {0, 255}},   {"md_value", {0, 255}},
    {"ml_value", {0, 65535}},      {"parity", {0, 255}},       {"data_bits", {5, 8}},
    {"stop_bits", {1, 2}},         {"flow_control", {0, 255}},
};

// The parity codes as each family's devices number them: the host numbering
// (none, odd, even, mark, space) on family B; family A devices swap odd and
// even, which is why its quick setter trades 1 and 2.
inline constexpr word parity_a[] = {
    {0, "none"}, {1, "even"}, {2, "odd"}, {3, "mark"}, {4, "space"}};
inline constexpr word parity_b[] = {
    {0, "none"}, {1, "odd"}, {2, "even"}, {3, "mark"}, {4, "space"}};
inline constexpr word on_off[] = {{0, "off"}, {1, "on"}};

inline constexpr field_words words_a[] = {{"parity", parity_a}, {"flow_control", on_off}};
inline constexpr field_words words_b[] = {{"parity", parity_b}};

inline constexpr uint8_t quick_parity_a[] = {0, 2, 1, 3, 4};

inline constexpr family_table tables[] = {
    {KX_FAMILY_A, speeds_a, 0, 0, limits_a, words_a, quick_parity_a, true, false, true, true},
    {KX_FAMILY_B, {}, 100, 6553500, limits_b, words_b, {}, true, true, false, true},
};

// A family without a table: any speed, every setting as wide as its field,
// and none of the behaviours above, which would have to be known.
inline constexpr family_table unknown_table{0,  {},    1,     UINT32_MAX, {},   {},
                                            {}, false, false, false,      false};

}  // namespace detail

// Every family the library speaks (kx_family_info), in its order, each with
// its table; read once.
inline std::span<const family_traits> families() {
    static const std::vector<family_traits> list = [] {
        std::vector<family_traits> out;
        kx_family_record info;
        for (int32_t i = 0; kx_family_info(i, &info) == KX_OK; ++i) {
            family_traits f{};
            static_cast<family_table &>(f) = detail::unknown_table;
            for (const family_table &t : detail::tables)
                if (t.code == info.family) {
                    static_cast<family_table &>(f) = t;
                    f.known = true;
                }
            f.code = info.family;
            f.letter[0] = info.letter;
            f.name.assign(info.name, strnlen(info.name, sizeof info.name));
            f.device_port = info.device_port;
            f.record_size = info.record_size;
            out.push_back(std::move(f));
        }
        return out;
    }();
    return list;
}

inline const family_traits *family_by_code(uint32_t code) {
    for (const family_traits &f : families())
        if (f.code == code) return &f;
    return nullptr;
}

// "A" for family A; "?" for a code no family has.
inline const char *family_letter(uint32_t code) {
    const family_traits *f = family_by_code(code);
    return f != nullptr ? f->letter : "?";
}

// Every family as item(family), joined by ", " and before the last by last:
// "x, y or z".
template <typename Item>
std::string every_family(Item &&item, const char *last) {
    std::string text;
    const auto all = families();
    for (size_t i = 0; i < all.size(); ++i) {
        if (i > 0) text += i + 1 < all.size() ? ", " : last;
        text += item(all[i]);
    }
    return text;
}

// "a or b": the letters in lower case, as --family takes them.
inline std::string family_choices(const std::string &before = "") {
    return every_family(
        [&](const family_traits &f) { return before + static_cast<char>(f.letter[0] | 0x20); },
        " or ");
}

// "1 family A, 16 family B"
inline std::string family_codes() {
    return every_family(
        [](const family_traits &f) { return std::to_string(f.code) + " family " + f.letter; },
        ", ");
}

}  // namespace kxtools
