// Family A quick settings of the serial line: three letters and one digit,
// no tag, always to the device's address; the first datagram back decides.
#include "family_a/serial_a.h"

#include "family_a/command_a.h"
#include "family_a/family_a.h"
#include "family_a/mapping_a.h"
#include "frame/exchange.h"
#include "kxconf.h"

namespace kx {

int32_t send_serial_command_a(const char *ip_text, const char (&command)[4]) {
    exchange ex;
    if (open_exchange(ex, ip_text, family_a_port, target::address) != KX_OK) return KX_E_SOCKET;
    const step got =
        single_reply(ex, reinterpret_cast<const uint8_t *>(command), sizeof command, reply_wait_ms);
    close_exchange(ex);
    if (got == step::no_datagram) return KX_E_TIMEOUT;
    if (got == step::receive_failed) return KX_E_SOCKET;
    return result_of(judge_quick_reply_a(received_bytes(ex)));
}

char baud_digit_a(uint32_t baud_rate) {
    // The device's own speed codes, unknown speeds falling back to 9600.
    return static_cast<char>('0' + baud_code_from_rate_a(baud_rate));
}

char parity_digit_a(uint32_t parity) {
    switch (parity & 0xFFu) {
        case 1:
            return '2';
        case 2:
            return '1';
        case 3:
            return '3';
        case 4:
            return '4';
        default:
            return '0';
    }
}

char data_bits_digit_a(uint32_t data_bits) { return (data_bits & 0xFFu) == 7 ? '0' : '1'; }

}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kxa_setting_baud(const char *ip_text, uint32_t baud_rate) {
    const char command[4] = {'P', 'B', 'R', baud_digit_a(baud_rate)};
    return send_serial_command_a(ip_text, command);
}

KXCONF_API int32_t KXCONF_CALL kxa_setting_parity(const char *ip_text, uint32_t parity) {
    const char command[4] = {'P', 'P', 'R', parity_digit_a(parity)};
    return send_serial_command_a(ip_text, command);
}

KXCONF_API int32_t KXCONF_CALL kxa_setting_databit(const char *ip_text, uint32_t data_bits) {
    const char command[4] = {'P', 'B', 'B', data_bits_digit_a(data_bits)};
    return send_serial_command_a(ip_text, command);
}
