// The generic settings record and the device record field by field: their
// JSON form (field names are the record's, numbers are numbers, addresses and
// texts are strings), their table form (codes as words, no password), and
// the checks a value must pass before it is sent to a device. What differs
// by family (ranges, speeds, words) comes from the tools' family table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "families.h"
#include "kxconf.h"
#include "record_text.h"

namespace kxtool {

using kxtools::family_by_code;
using kxtools::family_letter;
using kxtools::family_traits;
using kxtools::identifier_text;
using kxtools::range;
using kxtools::shown_text;
using kxtools::word;

enum class kind { family, text, address, identifier, number, baud };

struct field {
    const char *name;
    kind type;
    size_t offset;
    size_t width;
    bool writable;
    // Must differ from device to device on a network: a clone leaves it alone.
    bool identity;
    // Never printed in a table.
    bool secret;
    // Words for codes, on every family (a family's own words come first).
    std::span<const word> words;
    const char *unit;
    const char *meaning;
};

// Every field of kx_settings_record, in record order.
std::span<const field> settings_fields();
// By name, upper or lower case alike; null when no field has it.
const field *find_field(std::string_view name);
// "unknown field: baudrate (did you mean baud_rate?)"
std::string unknown_field_text(std::string_view name);
// The identity fields' names, for messages and help: "ip_address, ...".
std::string identity_names();

// Four decimal parts 0..255 without leading zeros: the platform's parser
// would read "010" as octal and "10.1" as 10.0.0.1, sending somewhere else.
bool valid_address(std::string_view text);
// An address one device can have: valid, and neither 0.0.0.0 nor 255.255.255.255,
// which a request would reach every device by (or none).
bool valid_device_address(std::string_view text);
// Six decimal parts 0..255 without leading zeros (0.16.10.0.0.1).
bool valid_identifier(std::string_view text);
// '|' ends a family A command's value and '/' separates the fields of a
// family A search reply, so neither may appear in a setting's text.
bool valid_setting_text(std::string_view text);
bool parse_number(std::string_view text, uint32_t &value);
// Dotted text to a number, first part in the high byte; false if invalid.
bool address_value(std::string_view text, uint32_t &value);
std::string address_text(uint32_t value);

// The family's range for a field; min > max when the family lacks it.
range range_of(const family_traits &family, const field &f);
bool baud_fits(uint32_t value, const family_traits &family);
// The speeds a family carries, for messages: "1200 2400 ..." or "multiples
// of 100 up to 6553500".
std::string speeds_text(const family_traits &family);
// "none (0), odd (1), ..." for a field on a family; empty without words.
std::string words_text(const field &f, const family_traits &family);
// A text field's length on every family: "at most 9 (family A) or 10
// (family B) characters".
std::string text_limits(const field &f);
// What a field takes on one family, in words: "0 to 9: none (0), ...".
std::string field_takes(const field &f, const family_traits &family);

// A value typed on the command line, in the JSON type its field takes
// (digits become a number for numeric fields; words stay text).
nlohmann::json typed_value(const field &f, const std::string &text);
// Empty when the value fits the field on the family (null: on any family,
// before the device is known); otherwise why it does not.
std::string refusal(const field &f, const nlohmann::json &value, const family_traits *family);
// The code a value stands for on a family: a number, digits, or a word.
std::optional<uint32_t> code_of(const field &f, const nlohmann::json &value,
                                const family_traits &family);
// Stores a value that passed refusal() for the family.
void put_value(kx_settings_record &record, const field &f, const nlohmann::json &value,
               const family_traits &family);

// A field's value as JSON: codes as numbers, texts byte for byte.
nlohmann::json value_json(const kx_settings_record &record, const field &f);
// As a table shows it: texts escaped, codes as words, a password hidden.
std::string value_text(const kx_settings_record &record, const field &f);
// Every field; the password only when asked for.
nlohmann::ordered_json settings_json(const kx_settings_record &record, bool with_password);
nlohmann::ordered_json device_json(const kx_device_record &device);

}  // namespace kxtool
