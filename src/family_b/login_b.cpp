// Family B login and logout. The login presents the scrambled identifier and
// the password in clear, with the sequence byte that its reply must echo.
#include "family_b/login_b.h"

#include <cstring>

#include "family_b/family_b.h"
#include "family_b/replies_b.h"
#include "family_b/sequenced_exchange_b.h"
#include "frame/bytes.h"

namespace kx {

int32_t send_logout_b(const family_ops &family, const char *ip_text,
                      const uint8_t (&device_id)[6]) {
    exchange ex;
    if (open_exchange(ex, ip_text, family.device_port, target::broadcast_rule,
                      wait_mode::send_only) != KX_OK)
        return KX_E_SOCKET;
    short_packet request = short_request_b(
        ex.broadcasting ? opcode_b::logout_broadcast : opcode_b::logout_unicast, marker::none);
    put_device_id_b(request, device_id);
    seal_packet_b(request);
    send_datagram(ex, request.data(), request.size());
    close_exchange(ex);
    return KX_OK;
}

void give_up_b(const family_ops &family, const char *ip_text, const uint8_t (&device_id)[6]) {
    send_logout_b(family, ip_text, device_id);
    platform::sleep_ms(closing_pause_ms);
}

int32_t login_b(const family_ops &family, const char *ip_text, const uint8_t *device_id,
                const kx_settings_record *login) {
    if (device_id == nullptr || login == nullptr) return KX_E_ARGUMENT;
    uint8_t id[6];
    std::memcpy(id, device_id, sizeof id);
    exchange ex;
    if (open_exchange(ex, ip_text, family.device_port, target::broadcast_rule) != KX_OK)
        return KX_E_SOCKET;
    short_packet request = sequenced_request_b(ex, opcode_b::login_broadcast,
                                               opcode_b::login_unicast, marker::none, id);
    put_bytes(request, packet_at::password, login->password);
    seal_packet_b(request);

    const int32_t answered = sequenced_exchange_b(family, ex, request, ip_text, id);
    if (answered != KX_OK) return answered;
    const login_reply verdict = judge_login_reply_b(received_bytes(ex));
    if (verdict == login_reply::bad_crc) send_logout_b(family, ip_text, id);
    return result_of(verdict);
}

int32_t logout_b(const family_ops &family, const char *ip_text, const uint8_t *device_id) {
    if (device_id == nullptr) return KX_E_ARGUMENT;
    uint8_t id[6];
    std::memcpy(id, device_id, sizeof id);
    return send_logout_b(family, ip_text, id);
}

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kxb_login(const char *ip_text, const uint8_t *device_id,
                                         const kx_settings_record *login) {
    return login_b(family_b_ops, ip_text, device_id, login);
}

KXCONF_API int32_t KXCONF_CALL kxb_logout(const char *ip_text, const uint8_t *device_id) {
    return logout_b(family_b_ops, ip_text, device_id);
}
