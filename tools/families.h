// What the tools know of each device family: its code and letter, the serial
// speeds it carries, the range of every setting on it and the words its codes
// go by. Adding a family to the tools is one entry in `families` below.
#pragma once

#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>

#include "kxconf.h"

namespace kxtools {

struct range {
    uint32_t min, max;
};

// A setting the family carries: for a number the values it takes, for a
// text its length. A setting a family does not list is one it lacks.
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

struct family_traits {
    uint8_t code;
    const char *letter;
    // The serial speeds in bit/s: a list, or every multiple of speed_step up
    // to speed_max when the list is empty.
    std::span<const uint32_t> speeds;
    uint32_t speed_step, speed_max;
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

}  // namespace detail

inline constexpr family_traits families[] = {
    {KX_FAMILY_A, "A", detail::speeds_a, 0, 0, detail::limits_a, detail::words_a,
     detail::quick_parity_a, true, false, true},
    {KX_FAMILY_B, "B", {}, 100, 6553500, detail::limits_b, detail::words_b, {}, true, true, false},
};

inline const family_traits *family_by_code(uint32_t code) {
    for (const family_traits &f : families)
        if (f.code == code) return &f;
    return nullptr;
}

// "A" for family A; "?" for a code no entry names.
inline const char *family_letter(uint32_t code) {
    const family_traits *f = family_by_code(code);
    return f != nullptr ? f->letter : "?";
}

// Every family as item(family), joined by ", " and before the last by last:
// "x, y or z".
template <typename Item>
std::string every_family(Item &&item, const char *last) {
    std::string text;
    for (size_t i = 0; i < std::size(families); ++i) {
        if (i > 0) text += i + 1 < std::size(families) ? ", " : last;
        text += item(families[i]);
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
