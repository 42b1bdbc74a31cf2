// The sequenced exchange of family B's login and read: the request carries a
// sequence byte, and the reply is the first datagram that echoes it.
#pragma once

#include <cstdint>
#include <span>

#include "family_b/packet_b.h"
#include "frame/exchange.h"
#include "frame/family.h"

namespace kx {

// Bytes 7 and 8 and a CRC: the least a login or read reply must carry.
constexpr int min_sequenced_reply = 10;

// The pseudo-random step of the Windows C runtime (srand/rand). Devices
// expect the sequence byte that generator gives, so it is reproduced here
// rather than called: the host's own rand() sequence stays untouched and
// every platform sends the same byte.
struct crt_random {
    uint32_t state;
    constexpr int next() {
        state = state * 214013u + 2531011u;
        return static_cast<int>((state >> 16) & 0x7FFF);
    }
};

// Low 8 bits of the first draw after seeding with 250.
constexpr uint8_t sequence_byte_b() {
    crt_random generator{250};
    return static_cast<uint8_t>(generator.next() & 0xFF);
}
static_assert(sequence_byte_b() == 0x57);

// Login and read take the first datagram that echoes the sequence byte; one
// too short to carry bytes 7 and 8 and a CRC counts as another's.
inline bool echoes_sequence_b(std::span<const uint8_t> reply) {
    return reply.size() >= min_sequenced_reply && reply[packet_at::sequence] == sequence_byte_b();
}

// The request's header on an open exchange: the broadcast or the unicast
// opcode as the exchange goes out, the marker if the operation has one, the
// sequence byte and the identifier. Not yet sealed.
short_packet sequenced_request_b(const exchange &ex, uint8_t broadcast_opcode,
                                 uint8_t unicast_opcode, marker with,
                                 const uint8_t (&device_id)[6]);

// Sends the request on the open exchange, takes the first datagram that
// echoes the sequence byte and closes the exchange. KX_OK with the reply in
// ex; without one it gives up on the device (a logout) and returns
// KX_E_TIMEOUT, or KX_E_SOCKET when the receive failed.
int32_t sequenced_exchange_b(const family_ops &family, exchange &ex,
                             std::span<const uint8_t> request, const char *ip_text,
                             const uint8_t (&device_id)[6]);

}  // namespace kx
