// Family B read and write settings. A read asks with the sequence byte and
// takes the settings packet that echoes it; a write sends a settings packet
// and, once the device has answered, confirms it (the device applies the
// record only then).
#include "family_b/settings_b.h"

#include <cstring>

#include "family_b/family_b.h"
#include "family_b/replies_b.h"
#include "family_b/sequenced_exchange_b.h"

namespace kx {

int32_t read_settings_b(const family_ops &family, const char *ip_text,
                        const uint8_t (&device_id)[6], kxb_settings_record &record) {
    exchange ex;
    if (open_exchange(ex, ip_text, family.device_port, target::broadcast_rule) != KX_OK)
        return KX_E_SOCKET;
    short_packet request = sequenced_request_b(ex, opcode_b::read_broadcast, opcode_b::read_unicast,
                                               marker::request, device_id);
    seal_packet_b(request);

    const int32_t answered = sequenced_exchange_b(family, ex, request, ip_text, device_id);
    if (answered != KX_OK) return answered;
    return result_of(judge_read_reply_b(received_bytes(ex), record, family.code));
}

int32_t write_settings_b(const family_ops &family, const char *ip_text,
                         const kxb_settings_record &record) {
    if (record.family != family.code) return KX_E_ARGUMENT;
    exchange ex;
    if (open_exchange(ex, ip_text, family.device_port, target::broadcast_rule) != KX_OK)
        return KX_E_SOCKET;
    settings_packet packet{};
    pack_settings_b(record, packet, family.code);
    packet[packet_at::opcode] = opcode_b::write_settings;
    packet[packet_at::family] = record.family;
    seal_packet_b(packet);

    const step outcome = single_reply(ex, packet.data(), packet.size(), reply_wait_ms);
    if (outcome == step::no_datagram) {
        close_exchange(ex);
        return KX_E_TIMEOUT;
    }
    if (outcome == step::receive_failed ||
        judge_write_reply_b(received_bytes(ex)) != short_reply::answered) {
        close_exchange(ex);
        return KX_E_REPLY;
    }

    uint8_t written_id[6];
    std::memcpy(written_id, record.device_id, sizeof written_id);
    short_packet confirmation = short_request_b(opcode_b::write_confirmation, marker::request);
    put_device_id_b(confirmation, written_id);
    seal_packet_b(confirmation);
    send_datagram(ex, confirmation.data(), confirmation.size());
    // Gives the device time to apply the record; whatever comes back is not read.
    (void)wait_datagram(ex, reply_wait_ms);
    close_exchange(ex);
    return KX_OK;
}

int32_t read_record_b(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                      uint8_t *record, const kx_device_record *) {
    if (device_id == nullptr || record == nullptr) return KX_E_ARGUMENT;
    uint8_t id[6];
    std::memcpy(id, device_id, sizeof id);
    return read_settings_b(family, ip_text, id, *reinterpret_cast<kxb_settings_record *>(record));
}

int32_t write_record_b(const family_ops &family, const char *ip_text, const uint8_t *,
                       const uint8_t *record, const kx_device_record *) {
    if (record == nullptr) return KX_E_ARGUMENT;
    return write_settings_b(family, ip_text,
                            *reinterpret_cast<const kxb_settings_record *>(record));
}

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kxb_read_setting(const char *ip_text, const uint8_t *device_id,
                                                kxb_settings_record *record,
                                                const kx_device_record *device) {
    return read_record_b(family_b_ops, ip_text, device_id, reinterpret_cast<uint8_t *>(record),
                         device);
}

KXCONF_API int32_t KXCONF_CALL kxb_write_setting(const char *ip_text, const uint8_t *device_id,
                                                 const kxb_settings_record *record,
                                                 const kx_device_record *device) {
    return write_record_b(family_b_ops, ip_text, device_id,
                          reinterpret_cast<const uint8_t *>(record), device);
}
