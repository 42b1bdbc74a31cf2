// Wire bytes in an explicit byte order, at an offset of a bounded buffer.
// An access that would run past the end of the buffer writes nothing and
// reads as zero, so a wrong offset can never reach memory outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kx {

constexpr bool fits(size_t buffer_size, size_t at, size_t width) {
    return at <= buffer_size && width <= buffer_size - at;
}

inline void put_u8(std::span<uint8_t> buffer, size_t at, uint8_t value) {
    if (fits(buffer.size(), at, 1)) buffer[at] = value;
}

inline uint8_t get_u8(std::span<const uint8_t> buffer, size_t at) {
    return fits(buffer.size(), at, 1) ? buffer[at] : 0;
}

inline void put_le16(std::span<uint8_t> buffer, size_t at, uint16_t value) {
    if (!fits(buffer.size(), at, 2)) return;
    buffer[at] = static_cast<uint8_t>(value & 0xFF);
    buffer[at + 1] = static_cast<uint8_t>(value >> 8);
}

inline uint16_t get_le16(std::span<const uint8_t> buffer, size_t at) {
    if (!fits(buffer.size(), at, 2)) return 0;
    return static_cast<uint16_t>(buffer[at] | (buffer[at + 1] << 8));
}

inline void put_be16(std::span<uint8_t> buffer, size_t at, uint16_t value) {
    if (!fits(buffer.size(), at, 2)) return;
    buffer[at] = static_cast<uint8_t>(value >> 8);
    buffer[at + 1] = static_cast<uint8_t>(value & 0xFF);
}

inline uint16_t get_be16(std::span<const uint8_t> buffer, size_t at) {
    if (!fits(buffer.size(), at, 2)) return 0;
    return static_cast<uint16_t>((buffer[at] << 8) | buffer[at + 1]);
}

// A fixed-width byte or text field of a record, copied raw.
template <typename Byte, size_t N>
void put_bytes(std::span<uint8_t> buffer, size_t at, const Byte (&field)[N]) {
    static_assert(sizeof(Byte) == 1);
    if (fits(buffer.size(), at, N)) std::memcpy(buffer.data() + at, field, N);
}

template <typename Byte, size_t N>
void get_bytes(std::span<const uint8_t> buffer, size_t at, Byte (&field)[N]) {
    static_assert(sizeof(Byte) == 1);
    if (fits(buffer.size(), at, N)) std::memcpy(field, buffer.data() + at, N);
}

}  // namespace kx
