// Text forms of IPv4 addresses and device identifiers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kx {

// 4 address bytes (first octet first) to dotted text with a NUL.
void ip_to_text(const uint8_t (&address)[4], char (&text)[16]);
// Dotted text to 4 address bytes; text the platform parser rejects gives
// 255.255.255.255.
void ip_from_text(const char *text, uint8_t (&address)[4]);

// Longest identifier text (six "255") plus its NUL.
constexpr size_t id_text_capacity = 24;
// Six identifier bytes to "a.b.c.d.e.f" with a NUL, cut to capacity - 1
// characters.
void id_to_text(const uint8_t *id, char *text, size_t capacity);
// Up to six dot-separated decimal components, each modulo 256, stopping at any
// other character, at the end of text, or after the sixth. Bytes after the
// last stored component keep their value.
void id_from_text(std::string_view text, uint8_t (&id)[6]);

// Length of a caller's NUL-terminated text, a null pointer counting as empty.
size_t text_length(const char *text);
// The text of a fixed-width field: up to its first NUL, never past its end.
std::string_view field_text(const char *field, size_t width);

// An address text shorter than "0.0.0.0" means no address.
constexpr size_t min_address_text = 7;

}  // namespace kx
