// Family A tagged commands: letters + argument + "|" + two hex digits. Each
// command is answered by one text reply that carries the command's last three
// characters somewhere in its text; the reply's first character says whether
// the device accepted. A conversation ends with a one-byte closing datagram.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "frame/exchange.h"

namespace kx {

// A command composed in a buffer as large as the largest datagram, so that a
// long argument (a 30-character dw_text, an over-long identifier text) goes
// out whole. Appending past the buffer writes nothing and marks the command
// as not fitting; such a command is never sent.
struct command_text {
    char bytes[max_datagram];
    size_t length = 0;
    bool fits = true;

    command_text &append(std::string_view text);
    command_text &append(char c) { return append(std::string_view(&c, 1)); }
    std::string_view view() const { return {bytes, length}; }
};

// letters + argument + "|" + tag, e.g. ("W", id_text, "20").
command_text tagged_command_a(std::string_view letters, std::string_view argument,
                              std::string_view tag);

// The selection command "W" + id_text + "|" + tag, which names the one device
// that takes part in the exchange. A null id_text counts as empty.
command_text select_command_a(const char *id_text, std::string_view tag);

// The verdict on one datagram received after a tagged command: it answers
// the command when its text (up to its first NUL) contains the command's
// last three characters, and its first byte 'A' says accepted.
enum class command_reply { other, accepted, refused };
command_reply judge_command_reply_a(std::span<const uint8_t> reply, std::string_view command);

// A quick setting takes the first datagram: 'A' first is accepted, an empty
// one counts as no answer.
enum class quick_reply { accepted, refused, empty };
quick_reply judge_quick_reply_a(std::span<const uint8_t> reply);
int32_t result_of(quick_reply verdict);

enum class command_outcome { accepted, refused, timeout, receive_failed };
// KX_OK, KX_E_TIMEOUT, KX_E_SOCKET, or for a refusal refused_result (-2, or
// -6 for the login command).
int32_t result_of(command_outcome outcome, int32_t refused_result);

// Sends the command once and waits for the datagram whose text (up to its
// first NUL) contains the command's last three characters, dropping every
// other datagram. On accepted or refused the reply is in ex.receive_area,
// ex.received bytes long and NUL-terminated.
command_outcome command_step_a(exchange &ex, std::string_view command);

constexpr char closing_read = 'O';   // after a read, a failure, and as logout
constexpr char closing_write = 'E';  // after a fully accepted write
constexpr char no_closing_byte = 0;  // after an accepted login

// Sends the closing byte, pauses and closes; with no_closing_byte it only
// closes.
void finish_exchange_a(exchange &ex, char closing_byte);

// Ends the exchange after a failed step with "O" and gives the step's result;
// a refusal gives refused_result (-2, or -6 for the login command).
int32_t fail_exchange_a(exchange &ex, command_outcome outcome, int32_t refused_result);

}  // namespace kx
