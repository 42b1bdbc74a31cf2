#include "family_b/sequenced_exchange_b.h"

#include "family_b/login_b.h"

namespace kx {

short_packet sequenced_request_b(const exchange &ex, uint8_t broadcast_opcode,
                                 uint8_t unicast_opcode, marker with,
                                 const uint8_t (&device_id)[6]) {
    short_packet request =
        short_request_b(ex.broadcasting ? broadcast_opcode : unicast_opcode, with);
    request[packet_at::sequence] = sequence_byte_b();
    put_device_id_b(request, device_id);
    return request;
}

int32_t sequenced_exchange_b(const family_ops &family, exchange &ex,
                             std::span<const uint8_t> request, const char *ip_text,
                             const uint8_t (&device_id)[6]) {
    const step outcome =
        matching_reply(ex, request.data(), request.size(), reply_wait_ms,
                       [](const exchange &e) { return echoes_sequence_b(received_bytes(e)); });
    close_exchange(ex);
    if (outcome == step::received) return KX_OK;
    give_up_b(family, ip_text, device_id);
    return outcome == step::no_datagram ? KX_E_TIMEOUT : KX_E_SOCKET;
}

}  // namespace kx
