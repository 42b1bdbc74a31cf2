// Family A quick settings of the serial line: "PBR", "PPR" or "PBB" and one
// digit, answered by a datagram that begins with "A" on acceptance.
#pragma once

#include <cstdint>

namespace kx {

// Sends the four characters to the address (never broadcast) and takes the
// first datagram back: 1 for "A...", -2 for anything else, -3 for none or an
// empty one, -1 when the socket cannot be bound or the receive fails.
int32_t send_serial_command_a(const char *ip_text, const char (&command)[4]);

// The digits of the three quick settings; parity and data bits look only at
// the low 8 bits.
char baud_digit_a(uint32_t baud_rate);
char parity_digit_a(uint32_t parity);
char data_bits_digit_a(uint32_t data_bits);

}  // namespace kx
