// Feeds arbitrary datagrams to the family B read verdict: it must never read
// past the datagram nor change it, and it fills the record only for a whole
// family B settings reply with a good CRC; any other leaves it untouched.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "family_b/packet_b.h"
#include "family_b/replies_b.h"
#include "frame/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kx::max_datagram) return 0;  // the receive area's limit
    const std::vector<uint8_t> reply(data, data + size);
    kxb_settings_record record;
    std::memset(&record, 0xA5, sizeof record);
    kxb_settings_record untouched;
    std::memcpy(&untouched, &record, sizeof record);

    const kx::read_reply verdict = kx::judge_read_reply_b(reply, record);
    if (size > 0 && std::memcmp(reply.data(), data, size) != 0) std::abort();  // changed in place
    const bool filled = std::memcmp(&record, &untouched, sizeof record) != 0;
    if (verdict == kx::read_reply::settings) {
        if (size < 158 || reply[8] != 11 || reply[9] != 16 || !kx::crc_matches_b(reply) ||
            record.family != KX_FAMILY_B || kx::result_of(verdict) != KX_OK)
            std::abort();
    } else if (filled || kx::result_of(verdict) != KX_E_REPLY) {
        std::abort();
    }
    return 0;
}
