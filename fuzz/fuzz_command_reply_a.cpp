// Feeds arbitrary datagrams to the family A reply verdicts. The first byte
// picks the command the datagram answers; the rest is the datagram. A reply
// judged to answer the command carries the command's last three characters
// before its first NUL; accepted and quick-accepted replies start with 'A'.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "family_a/command_a.h"
#include "kxconf.h"

namespace {

constexpr std::string_view commands[] = {"W0.16.10.0.0.1|20",
                                         "GIP|22",
                                         "V|33",
                                         "L|19",
                                         "SDW0123456789012345678901234567890|38",
                                         "",
                                         "|"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0 || size - 1 > kx::max_datagram) return 0;
    const std::string_view command = commands[data[0] % std::size(commands)];
    const std::vector<uint8_t> reply(data + 1, data + size);

    const kx::command_reply verdict = kx::judge_command_reply_a(reply, command);
    if (verdict != kx::command_reply::other) {
        const std::string_view pattern =
            command.size() >= 3 ? command.substr(command.size() - 3) : command;
        const std::string_view whole(reinterpret_cast<const char *>(data + 1), size - 1);
        const std::string_view before_nul = whole.substr(0, whole.find('\0'));
        if (before_nul.find(pattern) == std::string_view::npos) std::abort();
        if ((verdict == kx::command_reply::accepted) != (!reply.empty() && reply[0] == 'A'))
            std::abort();
    }
    const kx::quick_reply quick = kx::judge_quick_reply_a(reply);
    const int32_t result = kx::result_of(quick);
    if ((result == KX_OK) != (!reply.empty() && reply[0] == 'A')) std::abort();
    if (reply.empty() && result != KX_E_TIMEOUT) std::abort();
    return 0;
}
