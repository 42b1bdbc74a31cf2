#include "frame/search.h"

#include <cstring>

#include "frame/listed_devices.h"

namespace kx {

int32_t search_all_of(const family_ops &family, kx_device_record *records, int32_t *count) {
    if (records == nullptr || count == nullptr) return KX_E_ARGUMENT;
    exchange ex;
    if (open_exchange(ex, nullptr, family.device_port, target::search_broadcast) != KX_OK) {
        *count = 0;
        return KX_E_SOCKET;
    }
    const request_datagram request = family.search_request();
    listed_devices listed(records);
    int32_t found = 0;
    bool have_previous = false;
    uint8_t previous_id[6] = {};
    collect(ex, request.bytes, request.length, search_quiet_ms, [&](exchange &e) {
        kx_device_record &slot = records[found];
        if (!family.parse_answer(family, e, slot)) return;
        if (ex.every_adapter) {
            if (listed.contains(slot, found)) return;
            listed.add(found++);
            return;
        }
        // Consecutive answers of one device share a slot.
        if (!have_previous || std::memcmp(slot.device_id, previous_id, 6) != 0) ++found;
        std::memcpy(previous_id, slot.device_id, 6);
        have_previous = true;
    });
    close_exchange(ex);
    *count = found;
    return KX_OK;
}

std::optional<step> search_one_of(const family_ops &family, const char *ip_text, exchange &ex) {
    if (open_exchange(ex, ip_text, family.device_port, target::address) != KX_OK)
        return std::nullopt;
    const request_datagram request = family.search_request();
    const step outcome =
        reply_from_destination(ex, request.bytes, request.length, family.search_one_wait_ms);
    close_exchange(ex);
    return outcome;
}

}  // namespace kx
