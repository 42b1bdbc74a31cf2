#include "family_t/lines_t.h"

#include <cstring>

namespace kx {
namespace {

constexpr uint8_t magic_t[2] = {'K', 'V'};

// Finds the line with key in lines; false when none.
bool find_line(std::string_view lines, std::string_view key, std::string_view &value) {
    while (!lines.empty()) {
        const size_t end = lines.find('\n');
        const std::string_view line = lines.substr(0, end);
        if (line.size() > key.size() && line.starts_with(key) && line[key.size()] == '=') {
            value = line.substr(key.size() + 1);
            return true;
        }
        if (end == std::string_view::npos) break;
        lines.remove_prefix(end + 1);
    }
    return false;
}

}  // namespace

message_t::message_t(sequence_t sequence, std::string_view operation) {
    bytes[0] = magic_t[0];
    bytes[1] = magic_t[1];
    bytes[2] = static_cast<uint8_t>(sequence);
    length = header_size_t;
    add("OP", operation);
}

void message_t::add(std::string_view key, std::string_view value) {
    const size_t size = key.size() + 1 + value.size() + 1;
    if (overflow || size > sizeof bytes - length) {
        overflow = true;
        return;
    }
    uint8_t *at = bytes + length;
    std::memcpy(at, key.data(), key.size());
    at[key.size()] = '=';
    if (!value.empty()) std::memcpy(at + key.size() + 1, value.data(), value.size());
    at[size - 1] = '\n';
    length += size;
    ++bytes[3];
}

void message_t::add(std::string_view key, uint32_t value) {
    char digits[10];
    size_t n = 0;
    do {
        digits[sizeof digits - ++n] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    add(key, std::string_view(digits + sizeof digits - n, n));
}

reply_t::reply_t(std::span<const uint8_t> datagram, sequence_t sequence) {
    if (datagram.size() < header_size_t || datagram[0] != magic_t[0] || datagram[1] != magic_t[1] ||
        datagram[2] != static_cast<uint8_t>(sequence))
        return;
    lines_ = std::string_view(reinterpret_cast<const char *>(datagram.data()) + header_size_t,
                              datagram.size() - header_size_t);
    size_t count = 0;
    for (std::string_view rest = lines_; !rest.empty(); ++count) {
        const size_t end = rest.find('\n');
        const size_t equals = rest.find('=');
        if (end == std::string_view::npos || equals == 0 || equals > end) return;
        rest.remove_prefix(end + 1);
    }
    valid_ = count == datagram[3];
}

std::string_view reply_t::value(std::string_view key) const {
    std::string_view found;
    return valid_ && find_line(lines_, key, found) ? found : std::string_view();
}

bool reply_t::has(std::string_view key) const {
    std::string_view found;
    return valid_ && find_line(lines_, key, found);
}

bool reply_t::number(std::string_view key, uint32_t max, uint32_t &out) const {
    std::string_view text;
    if (!valid_ || !find_line(lines_, key, text) || text.empty() || text.size() > 10) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > max) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

}  // namespace kx
