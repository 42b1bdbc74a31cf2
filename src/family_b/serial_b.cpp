// Family B serial-line quick settings: one 6-byte block (opcode 9, sent in
// clear at bytes 18..23) in which only the changed parameter carries a value.
#include "family_b/serial_b.h"

#include <algorithm>

#include "family_b/family_b.h"
#include "family_b/replies_b.h"
#include "frame/bytes.h"

namespace kx {

namespace {

constexpr uint8_t unset = 0xFF;
constexpr size_t baud_at = 0;  // baud rate / 100, little-endian
constexpr size_t data_bits_at = 2;
constexpr size_t parity_at = 4;

serial_block unset_block() {
    serial_block block;
    block.fill(unset);
    return block;
}

}  // namespace

int32_t send_serial_block_b(const family_ops &family, const char *ip_text,
                            const serial_block &block) {
    exchange ex;
    if (open_exchange(ex, ip_text, family.device_port, target::address) != KX_OK)
        return KX_E_SOCKET;
    short_packet request = short_request_b(opcode_b::serial_settings, marker::request);
    std::copy(block.begin(), block.end(), request.begin() + packet_at::serial_block);
    seal_packet_b(request);
    const step outcome = single_reply(ex, request.data(), request.size(), reply_wait_ms);
    close_exchange(ex);
    if (outcome == step::no_datagram) return KX_E_TIMEOUT;
    if (outcome == step::receive_failed) return KX_E_REPLY;
    return result_of(judge_serial_reply_b(received_bytes(ex)));
}

int32_t set_baud_b(const family_ops &family, const char *ip_text, uint32_t baud_rate) {
    serial_block block = unset_block();
    put_le16(block, baud_at, static_cast<uint16_t>(baud_rate / 100));
    return send_serial_block_b(family, ip_text, block);
}

int32_t set_parity_b(const family_ops &family, const char *ip_text, uint32_t parity) {
    serial_block block = unset_block();
    block[parity_at] = static_cast<uint8_t>(parity & 0xFF);
    return send_serial_block_b(family, ip_text, block);
}

int32_t set_data_bits_b(const family_ops &family, const char *ip_text, uint32_t data_bits) {
    serial_block block = unset_block();
    block[data_bits_at] = static_cast<uint8_t>(data_bits & 0xFF);
    return send_serial_block_b(family, ip_text, block);
}

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kxb_setting_baud(const char *ip_text, uint32_t baud_rate) {
    return set_baud_b(family_b_ops, ip_text, baud_rate);
}

KXCONF_API int32_t KXCONF_CALL kxb_setting_parity(const char *ip_text, uint32_t parity) {
    return set_parity_b(family_b_ops, ip_text, parity);
}

KXCONF_API int32_t KXCONF_CALL kxb_setting_databit(const char *ip_text, uint32_t data_bits) {
    return set_data_bits_b(family_b_ops, ip_text, data_bits);
}
