// Feeds arbitrary datagrams to the family B verdicts on short answers (the
// settings write and the serial-line block): they must never read past the
// datagram; the serial block needs 36 bytes, both a good CRC.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "family_b/packet_b.h"
#include "family_b/replies_b.h"
#include "frame/exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kx::max_datagram) return 0;  // the receive area's limit
    const std::vector<uint8_t> reply(data, data + size);
    const bool sealed = kx::crc_matches_b(reply);
    const kx::short_reply write = kx::judge_write_reply_b(reply);
    const kx::short_reply serial = kx::judge_serial_reply_b(reply);
    if ((write == kx::short_reply::answered) != sealed) std::abort();
    if ((serial == kx::short_reply::answered) != (sealed && size >= 36)) std::abort();
    if ((kx::result_of(serial) == KX_OK) != (serial == kx::short_reply::answered)) std::abort();
    return 0;
}
