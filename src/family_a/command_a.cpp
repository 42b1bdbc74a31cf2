#include "family_a/command_a.h"

#include <cstring>

#include "frame/convert.h"
#include "kxconf.h"

namespace kx {

command_text &command_text::append(std::string_view text) {
    if (!fits || text.size() > sizeof bytes - length) {
        fits = false;
        return *this;
    }
    std::memcpy(bytes + length, text.data(), text.size());
    length += text.size();
    return *this;
}

command_text tagged_command_a(std::string_view letters, std::string_view argument,
                              std::string_view tag) {
    command_text command;
    command.append(letters).append(argument).append('|').append(tag);
    return command;
}

command_text select_command_a(const char *id_text, std::string_view tag) {
    return tagged_command_a("W", {id_text != nullptr ? id_text : "", text_length(id_text)}, tag);
}

namespace {

constexpr size_t pattern_length = 3;

// The reply as text: its bytes up to the first NUL.
std::string_view reply_text(std::span<const uint8_t> reply) {
    if (reply.empty()) return {};  // an empty span may carry no pointer at all
    const char *text = reinterpret_cast<const char *>(reply.data());
    const void *nul = std::memchr(text, '\0', reply.size());
    return {text, nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - text)
                                 : reply.size()};
}

}  // namespace

command_reply judge_command_reply_a(std::span<const uint8_t> reply, std::string_view command) {
    const std::string_view pattern = command.size() >= pattern_length
                                         ? command.substr(command.size() - pattern_length)
                                         : command;
    if (reply_text(reply).find(pattern) == std::string_view::npos) return command_reply::other;
    return !reply.empty() && reply[0] == 'A' ? command_reply::accepted : command_reply::refused;
}

quick_reply judge_quick_reply_a(std::span<const uint8_t> reply) {
    if (reply.empty()) return quick_reply::empty;
    return reply[0] == 'A' ? quick_reply::accepted : quick_reply::refused;
}

int32_t result_of(quick_reply verdict) {
    switch (verdict) {
        case quick_reply::accepted:
            return KX_OK;
        case quick_reply::refused:
            return KX_E_REPLY;
        case quick_reply::empty:
            break;
    }
    return KX_E_TIMEOUT;
}

command_outcome command_step_a(exchange &ex, std::string_view command) {
    command_reply verdict = command_reply::other;
    const step got = matching_reply(ex, reinterpret_cast<const uint8_t *>(command.data()),
                                    command.size(), reply_wait_ms, [&](const exchange &e) {
                                        verdict = judge_command_reply_a(received_bytes(e), command);
                                        return verdict != command_reply::other;
                                    });
    switch (got) {
        case step::no_datagram:
            return command_outcome::timeout;
        case step::receive_failed:
            return command_outcome::receive_failed;
        case step::received:
            break;
    }
    return verdict == command_reply::accepted ? command_outcome::accepted
                                              : command_outcome::refused;
}

void finish_exchange_a(exchange &ex, char closing_byte) {
    if (closing_byte != no_closing_byte) {
        const uint8_t byte = static_cast<uint8_t>(closing_byte);
        send_datagram(ex, &byte, 1);
        platform::sleep_ms(closing_pause_ms);
    }
    close_exchange(ex);
}

int32_t result_of(command_outcome outcome, int32_t refused_result) {
    switch (outcome) {
        case command_outcome::timeout:
            return KX_E_TIMEOUT;
        case command_outcome::receive_failed:
            return KX_E_SOCKET;
        case command_outcome::accepted:
            return KX_OK;
        case command_outcome::refused:
            break;
    }
    return refused_result;
}

int32_t fail_exchange_a(exchange &ex, command_outcome outcome, int32_t refused_result) {
    finish_exchange_a(ex, closing_read);
    return result_of(outcome, refused_result);
}

}  // namespace kx
