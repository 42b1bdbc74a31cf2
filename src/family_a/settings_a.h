// The family A command table: for every field of the family A settings record
// its get command, the rule that turns the get reply into the field, and the
// set command with the rule that turns the field back into value text. The
// read sends the get commands in table order; the write sends the set
// commands in the order of their tags.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "family_a/command_a.h"
#include "kxconf.h"

namespace kx {

enum class reply_rule : uint8_t {
    text,          // up to limit characters and a NUL; empty when the value is
    address_text,  // text of at most 16, "0.0.0.0" when shorter than 7
    number,        // up to limit characters, decimal, modulo the field's width
    digit,         // the first value character minus '0', modulo 256
    one_flag,      // 1 when the first value character is '1', else 0
    zero_flag,     // 0 when the first value character is '0', else 1
    data_bits,     // 7 when the first value character is '0', else 8
    baud_code,     // '0'..'7' give 0..7, anything else 3 (9600)
};

enum class value_rule : uint8_t {
    none,       // read only
    text,       // the field's text up to its NUL, never past the field
    decimal,    // unsigned decimal of the field
    data_bits,  // signed decimal of data_bits - 7
};

struct setting_a {
    std::string_view get_command;  // complete, e.g. "GIP|22"
    reply_rule rule;
    uint8_t limit;                 // text and number rules: characters taken from the value
    uint16_t offset;               // of the field in kxa_settings_record
    uint8_t width;                 // of the field in bytes; numbers are 1 or 2 (little-endian)
    std::string_view set_letters;  // empty when the field is never written
    std::string_view set_tag;
    value_rule value;

    constexpr std::string_view get_tag() const {
        return get_command.substr(get_command.size() - 2);
    }
    constexpr bool writable() const { return value != value_rule::none; }
};

#define KXA_FIELD(name)                                         \
    static_cast<uint16_t>(offsetof(kxa_settings_record, name)), \
        static_cast<uint8_t>(sizeof(kxa_settings_record::name))

// In the order of the read list.
// clang-format off
inline constexpr setting_a settings_table_a[] = {
    {"GFE|21", reply_rule::text, 30, KXA_FIELD(device_id_text), "", "", value_rule::none},
    {"GIP|22", reply_rule::text, 16, KXA_FIELD(ip_address), "SIP", "21", value_rule::text},
    {"GPN|23", reply_rule::number, 5, KXA_FIELD(local_port), "SPN", "22", value_rule::decimal},
    {"GRM|24", reply_rule::digit, 0, KXA_FIELD(rm_value), "SRM", "23", value_rule::decimal},
    {"GDI|25", reply_rule::text, 16, KXA_FIELD(dest_ip), "SDI", "24", value_rule::text},
    {"GDP|26", reply_rule::number, 5, KXA_FIELD(dest_port), "SDP", "25", value_rule::decimal},
    {"GGI|27", reply_rule::text, 16, KXA_FIELD(gateway), "SGI", "26", value_rule::text},
    {"GNM|28", reply_rule::text, 16, KXA_FIELD(subnet_mask), "SNM", "27", value_rule::text},
    {"GBR|29", reply_rule::baud_code, 0, KXA_FIELD(baud_code), "SBR", "28", value_rule::decimal},
    {"GPR|2A", reply_rule::digit, 0, KXA_FIELD(parity), "SPR", "29", value_rule::decimal},
    {"GBB|2B", reply_rule::data_bits, 0, KXA_FIELD(data_bits), "SBB", "2A", value_rule::data_bits},
    {"GML|2C", reply_rule::number, 5, KXA_FIELD(ml_value), "SML", "2B", value_rule::decimal},
    {"GMD|2D", reply_rule::number, 3, KXA_FIELD(md_value), "SMD", "2C", value_rule::decimal},
    {"GTP|2E", reply_rule::digit, 0, KXA_FIELD(tp_value), "STP", "2D", value_rule::decimal},
    {"GDN|2F", reply_rule::text, 9, KXA_FIELD(device_name), "SDN", "1F", value_rule::text},
    {"GDH|30", reply_rule::zero_flag, 0, KXA_FIELD(dhcp_enabled), "SDH", "2E", value_rule::decimal},
    {"GFC|31", reply_rule::one_flag, 0, KXA_FIELD(flow_control), "SFC", "2F", value_rule::decimal},
    {"GKL|32", reply_rule::number, 3, KXA_FIELD(keep_alive), "SKL", "30", value_rule::decimal},
    {"V|33", reply_rule::text, 15, KXA_FIELD(firmware_version), "", "", value_rule::none},
    {"GDD|34", reply_rule::one_flag, 0, KXA_FIELD(dd_flag), "SDD", "34", value_rule::decimal},
    {"GLI|35", reply_rule::address_text, 16, KXA_FIELD(li_address), "SLI", "35", value_rule::text},
    {"GLi|36", reply_rule::address_text, 16, KXA_FIELD(li_address_2), "SLi", "36", value_rule::text},
    {"GWW|37", reply_rule::one_flag, 0, KXA_FIELD(ww_flag), "SWW", "37", value_rule::decimal},
    {"GDW|38", reply_rule::text, 30, KXA_FIELD(dw_text), "SDW", "38", value_rule::text},
    {"GON|39", reply_rule::text, 9, KXA_FIELD(on_text), "SON", "39", value_rule::text},
    {"GPW|3A", reply_rule::text, 9, KXA_FIELD(password), "SPW", "3A", value_rule::text},
    {"T|3B", reply_rule::one_flag, 0, KXA_FIELD(family), "", "", value_rule::none},
    {"GNB|3C", reply_rule::one_flag, 0, KXA_FIELD(nb_flag), "SNB", "3B", value_rule::decimal},
};
// clang-format on

#undef KXA_FIELD

inline constexpr size_t settings_count_a = std::size(settings_table_a);

// A text stored at its full limit puts its NUL on the byte after the limit,
// which is the first byte of a later field of the read list; it must stay
// inside the record.
static_assert(std::all_of(std::begin(settings_table_a), std::end(settings_table_a),
                          [](const setting_a &s) {
                              return (s.rule != reply_rule::text &&
                                      s.rule != reply_rule::address_text) ||
                                     s.offset + s.limit < sizeof(kxa_settings_record);
                          }));

// Selection command tags: the read list and the write list open with it.
inline constexpr std::string_view select_tag_read_a = "20";
inline constexpr std::string_view select_tag_write_a = "1E";

// Table indices of the writable fields in the order of their set tags
// (upper-case hex digits of equal length sort as text).
inline constexpr auto write_order_a = [] {
    constexpr size_t writable =
        static_cast<size_t>(std::count_if(std::begin(settings_table_a), std::end(settings_table_a),
                                          [](const setting_a &s) { return s.writable(); }));
    std::array<uint8_t, writable> order{};
    size_t n = 0;
    for (size_t i = 0; i < settings_count_a; ++i)
        if (settings_table_a[i].writable()) order[n++] = static_cast<uint8_t>(i);
    std::sort(order.begin(), order.end(), [](uint8_t a, uint8_t b) {
        return settings_table_a[a].set_tag < settings_table_a[b].set_tag;
    });
    return order;
}();

// Read list: the selection command and one get command per table row.
inline constexpr size_t read_request_count_a = 1 + settings_count_a;
// Write list: the selection command and one set command per writable field.
inline constexpr size_t write_request_count_a = 1 + write_order_a.size();

// Applies one accepted get reply (the received bytes, length of them) to the
// record. The reply's last two bytes pick the table row by its get tag; the
// value runs from the byte after the 'A' to the first '|'. A reply whose tag
// is not in the table stores nothing. Never reads past length bytes and never
// writes outside the record.
void store_reply_a(const uint8_t *reply, size_t length, kxa_settings_record &record);

// Appends the field's value text to command.
void append_value_text_a(const setting_a &setting, const kxa_settings_record &record,
                         command_text &command);

// The set command of a writable field: letters + value text + "|" + tag.
command_text set_command_a(const setting_a &setting, const kxa_settings_record &record);

}  // namespace kx
