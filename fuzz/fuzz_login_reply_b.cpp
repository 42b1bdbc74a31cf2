// Feeds arbitrary datagrams to the family B login verdict: it must never read
// past the datagram, and a verdict of accepted needs a good CRC and opcode 17.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "family_b/packet_b.h"
#include "family_b/replies_b.h"
#include "frame/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kx::max_datagram) return 0;  // the receive area's limit
    // Exactly as large as the datagram, so the sanitizers see any overrun.
    const std::vector<uint8_t> reply(data, data + size);
    const kx::login_reply verdict = kx::judge_login_reply_b(reply);
    const int32_t result = kx::result_of(verdict);
    if (verdict == kx::login_reply::accepted &&
        (!kx::crc_matches_b(reply) || reply[8] != 17 || result != KX_OK))
        std::abort();
    if (verdict != kx::login_reply::accepted && result == KX_OK) std::abort();
    return 0;
}
