// The generic settings record and the device record field by field: their
// JSON form (field names are the record's, numbers are numbers, addresses
// and texts are strings), their table form, and the checks a value must
// pass before it is sent to a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "family_a/speeds_a.h"
#include "kxconf.h"
#include "result_text.h"

namespace kxtool {

enum class kind { family, text, address, identifier, number, baud };

// Values a family carries, min to max.
struct range {
    uint32_t min, max;
};

struct field {
    const char *name;
    kind type;
    size_t offset;
    size_t width;
    bool writable;
    // Numbers: the values each family carries. Texts: the longest text.
    // One range per family, in the order of known_families.
    range values[2];
};

// The families whose fields the table describes, by family code.
inline constexpr uint8_t known_families[] = {KX_FAMILY_A, KX_FAMILY_B};
static_assert(std::size(known_families) == std::size(field{}.values));

// Every field of kx_settings_record, in record order.
const std::vector<field> &settings_fields();
const field *find_field(std::string_view name);

// Four decimal parts 0..255 without leading zeros: the platform's parser
// would read "010" as octal and "10.1" as 10.0.0.1, sending somewhere else.
bool valid_address(std::string_view text);
// Six decimal parts 0..255 without leading zeros (0.16.10.0.0.1).
bool valid_identifier(std::string_view text);
// '|' ends a family A command's value and '/' separates the fields of a
// family A search reply, so neither may appear in a setting's text.
bool valid_setting_text(std::string_view text);
bool parse_number(std::string_view text, uint32_t &value);
bool baud_fits(uint32_t value, uint8_t family);
// The speeds each family carries, for messages.
std::string speeds_text();

std::string id_text(const uint8_t *id);
using kxtools::family_letter;
// A text field for a terminal: bytes that are not printable ASCII escaped.
std::string shown_text(const char *field, size_t width);

nlohmann::json value_json(const kx_settings_record &record, const field &f);
std::string value_text(const kx_settings_record &record, const field &f);
nlohmann::ordered_json settings_json(const kx_settings_record &record);
nlohmann::ordered_json device_json(const kx_device_record &device);

// A value typed on the command line, in the JSON type its field takes
// (digits become a number for numeric fields).
nlohmann::json typed_value(const field &f, const std::string &text);
// Empty when value fits the field for the family (0: either family, before
// the device is known); otherwise why it does not.
std::string refusal(const field &f, const nlohmann::json &value, uint8_t family);
// Stores a value that passed refusal().
void put_value(kx_settings_record &record, const field &f, const nlohmann::json &value);

}  // namespace kxtool
