#include "family_a/settings_a.h"

#include <cstring>

#include "frame/convert.h"

namespace kx {

namespace {

uint8_t *field_of(kxa_settings_record &record, const setting_a &setting) {
    return reinterpret_cast<uint8_t *>(&record) + setting.offset;
}

const uint8_t *field_of(const kxa_settings_record &record, const setting_a &setting) {
    return reinterpret_cast<const uint8_t *>(&record) + setting.offset;
}

// Numbers in the record are 1 or 2 bytes, little-endian.
void store_number(uint8_t *field, uint8_t width, uint32_t value) {
    field[0] = static_cast<uint8_t>(value);
    if (width == 2) field[1] = static_cast<uint8_t>(value >> 8);
}

uint32_t load_number(const uint8_t *field, uint8_t width) {
    uint32_t value = field[0];
    if (width == 2) value |= static_cast<uint32_t>(field[1]) << 8;
    return value;
}

const setting_a *setting_for_tag(std::string_view tag) {
    for (const setting_a &s : settings_table_a)
        if (s.get_tag() == tag) return &s;
    return nullptr;
}

void store_text(uint8_t *field, std::string_view value, size_t limit) {
    const size_t n = value.size() < limit ? value.size() : limit;
    std::memcpy(field, value.data(), n);
    field[n] = 0;
}

// Every character counts, digit or not, and a byte of 128 or more as its
// value minus 256, as the devices' own firmware computes it.
uint32_t parse_number(std::string_view value, size_t limit, uint8_t width) {
    const uint32_t mask = width == 2 ? 0xFFFFu : 0xFFu;
    uint32_t number = 0;
    for (size_t i = 0; i < value.size() && i < limit; ++i)
        number =
            (number * 10 + static_cast<uint32_t>(static_cast<signed char>(value[i]) - 48)) & mask;
    return number;
}

}  // namespace

void store_reply_a(const uint8_t *reply, size_t length, kxa_settings_record &record) {
    // The shortest reply that can carry a tag: 'A', '|' and two digits.
    if (reply == nullptr || length < 4) return;
    const char *text = reinterpret_cast<const char *>(reply);
    const setting_a *setting = setting_for_tag({text + length - 2, 2});
    if (setting == nullptr) return;

    std::string_view value(text + 1, length - 1);
    value = value.substr(0, value.find('|'));
    const char first = text[1];
    uint8_t *field = field_of(record, *setting);

    switch (setting->rule) {
        case reply_rule::text:
            store_text(field, value, setting->limit);
            break;
        case reply_rule::address_text:
            store_text(field, value, setting->limit);
            if (field_text(reinterpret_cast<const char *>(field), setting->limit).size() <
                min_address_text)
                store_text(field, "0.0.0.0", setting->limit);
            break;
        case reply_rule::number:
            store_number(field, setting->width,
                         parse_number(value, setting->limit, setting->width));
            break;
        case reply_rule::digit:
            field[0] = static_cast<uint8_t>(first - '0');
            break;
        case reply_rule::one_flag:
            field[0] = first == '1' ? 1 : 0;
            break;
        case reply_rule::zero_flag:
            field[0] = first == '0' ? 0 : 1;
            break;
        case reply_rule::data_bits:
            field[0] = first == '0' ? 7 : 8;
            break;
        case reply_rule::baud_code:
            field[0] = first >= '0' && first <= '7' ? static_cast<uint8_t>(first - '0') : 3;
            break;
    }
}

void append_value_text_a(const setting_a &setting, const kxa_settings_record &record,
                         command_text &command) {
    const uint8_t *field = field_of(record, setting);
    int32_t number = 0;
    switch (setting.value) {
        case value_rule::none:
            return;
        case value_rule::text:
            command.append(field_text(reinterpret_cast<const char *>(field), setting.width));
            return;
        case value_rule::decimal:
            number = static_cast<int32_t>(load_number(field, setting.width));
            break;
        case value_rule::data_bits:
            number = static_cast<int32_t>(field[0]) - 7;
            break;
    }
    if (number < 0) {
        command.append('-');
        number = -number;
    }
    char digits[10];
    size_t n = 0;
    do {
        digits[n++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (n > 0) command.append(digits[--n]);
}

command_text set_command_a(const setting_a &setting, const kxa_settings_record &record) {
    command_text command;
    command.append(setting.set_letters);
    append_value_text_a(setting, record, command);
    command.append('|').append(setting.set_tag);
    return command;
}

}  // namespace kx
