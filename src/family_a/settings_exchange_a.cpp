// Family A read and write of the settings: the selection command, then one
// get (read) or set (write) command per field of the command table, each
// accepted before the next is sent. A read ends with "O"; a write ends with
// "E" only when every command was accepted, which makes the device apply
// the new settings, and with "O" otherwise.
#include "family_a/settings_exchange_a.h"

#include <cstring>

#include "family_a/command_a.h"
#include "family_a/family_a.h"
#include "family_a/settings_a.h"
#include "frame/convert.h"
#include "frame/exchange.h"
#include "kxconf.h"

using namespace kx;

namespace kx {

int32_t check_settings_arguments_a(const char *ip_text, const char *id_text) {
    if (text_length(ip_text) < min_address_text && text_length(id_text) < min_id_text)
        return KX_E_ARGUMENT;
    return KX_OK;
}

}  // namespace kx

namespace {

// A read fills a working copy of the record. A text reply at its full limit
// puts its NUL on the first byte of a later field, so a failed read copies
// back only the fields of the requests that were answered (the first rows
// of the read list), each within its own width.
int32_t fail_read_a(exchange &ex, command_outcome outcome, const kxa_settings_record &working,
                    size_t answered_rows, kxa_settings_record &record) {
    auto *to = reinterpret_cast<uint8_t *>(&record);
    const auto *from = reinterpret_cast<const uint8_t *>(&working);
    for (size_t row = 0; row < answered_rows; ++row) {
        const setting_a &setting = settings_table_a[row];
        std::memcpy(to + setting.offset, from + setting.offset, setting.width);
    }
    return fail_exchange_a(ex, outcome, KX_E_REPLY);
}

}  // namespace

KXCONF_API int32_t KXCONF_CALL kxa_read_setting(const char *ip_text, const char *id_text,
                                                kxa_settings_record *record,
                                                const kx_device_record *) {
    if (record == nullptr || check_settings_arguments_a(ip_text, id_text) != KX_OK)
        return KX_E_ARGUMENT;
    const command_text select = select_command_a(id_text, select_tag_read_a);
    if (!select.fits) return KX_E_ARGUMENT;

    exchange ex;
    if (open_exchange(ex, ip_text, family_a_port, target::broadcast_rule) != KX_OK)
        return KX_E_SOCKET;
    const command_outcome selected = command_step_a(ex, select.view());
    if (selected != command_outcome::accepted) return fail_exchange_a(ex, selected, KX_E_REPLY);
    kxa_settings_record working;
    std::memcpy(&working, record, sizeof working);
    // Every accepted reply goes through the table; the selection's tag is
    // not in it, so its reply stores nothing unless it ends in a get tag.
    store_reply_a(ex.receive_area, static_cast<size_t>(ex.received), working);
    for (size_t row = 0; row < settings_count_a; ++row) {
        const command_outcome got = command_step_a(ex, settings_table_a[row].get_command);
        if (got != command_outcome::accepted) return fail_read_a(ex, got, working, row, *record);
        store_reply_a(ex.receive_area, static_cast<size_t>(ex.received), working);
    }
    std::memcpy(record, &working, sizeof working);
    finish_exchange_a(ex, closing_read);
    return KX_OK;
}

KXCONF_API int32_t KXCONF_CALL kxa_write_setting(const char *ip_text, const char *id_text,
                                                 const kxa_settings_record *record,
                                                 const kx_device_record *) {
    if (record == nullptr || check_settings_arguments_a(ip_text, id_text) != KX_OK)
        return KX_E_ARGUMENT;
    const command_text select = select_command_a(id_text, select_tag_write_a);
    if (!select.fits) return KX_E_ARGUMENT;

    // The write selects by identifier text whenever it has one, and then
    // broadcasts whatever the address; only without one does it use the
    // address.
    const target destination = text_length(id_text) == 0 ? target::address : target::broadcast;
    exchange ex;
    if (open_exchange(ex, ip_text, family_a_port, destination) != KX_OK) return KX_E_SOCKET;
    const command_outcome selected = command_step_a(ex, select.view());
    if (selected != command_outcome::accepted) return fail_exchange_a(ex, selected, KX_E_REPLY);
    for (const uint8_t index : write_order_a) {
        // Value texts are bounded by their fields (at most 30 characters), so
        // every set command fits.
        const command_text command = set_command_a(settings_table_a[index], *record);
        const command_outcome got = command_step_a(ex, command.view());
        if (got != command_outcome::accepted) return fail_exchange_a(ex, got, KX_E_REPLY);
    }
    finish_exchange_a(ex, closing_write);
    return KX_OK;
}
