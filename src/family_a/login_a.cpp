// Family A login and logout. A login to an address sends only the login
// command; a broadcast login first selects the device by its identifier text.
// The device remembers an accepted login until it receives "O".
#include "family_a/command_a.h"
#include "family_a/family_a.h"
#include "frame/convert.h"
#include "frame/exchange.h"
#include "kxconf.h"

using namespace kx;

namespace {

constexpr std::string_view select_tag_login = "20";
constexpr std::string_view login_letters = "L";
constexpr std::string_view login_tag = "19";

}  // namespace

KXCONF_API int32_t KXCONF_CALL kxa_login(const char *ip_text, const char *id_text,
                                         const kx_settings_record *login) {
    if (login == nullptr || login->family != KX_FAMILY_A) return KX_E_ARGUMENT;
    const bool broadcast = text_length(ip_text) < min_address_text;
    const command_text select = select_command_a(id_text, select_tag_login);
    // The identifier text only goes out in a broadcast login.
    if (broadcast && !select.fits) return KX_E_ARGUMENT;
    const command_text login_command = tagged_command_a(
        login_letters, field_text(login->password, sizeof login->password), login_tag);

    exchange ex;
    if (open_exchange(ex, ip_text, family_a_port, target::broadcast_rule) != KX_OK)
        return KX_E_SOCKET;
    if (broadcast) {
        const command_outcome selected = command_step_a(ex, select.view());
        if (selected != command_outcome::accepted) return fail_exchange_a(ex, selected, KX_E_REPLY);
    }
    const command_outcome logged_in = command_step_a(ex, login_command.view());
    if (logged_in != command_outcome::accepted) return fail_exchange_a(ex, logged_in, KX_E_REFUSED);
    finish_exchange_a(ex, no_closing_byte);
    return KX_OK;
}

KXCONF_API int32_t KXCONF_CALL kxa_logout(const char *ip_text, const uint8_t *) {
    exchange ex;
    if (open_exchange(ex, ip_text, family_a_port, target::broadcast_rule, wait_mode::send_only) !=
        KX_OK)
        return KX_E_SOCKET;
    const uint8_t closing = static_cast<uint8_t>(closing_read);
    send_datagram(ex, &closing, 1);
    // Unlike the other exchanges, logout closes before it pauses.
    close_exchange(ex);
    platform::sleep_ms(closing_pause_ms);
    return KX_OK;
}
