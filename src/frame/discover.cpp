// kx_discover: both families' search requests from one socket, their answers
// collected in one quiet window, each device listed once and never more
// devices written than the caller's array holds.
#include <cstring>

#include "family_a/family_a.h"
#include "family_b/family_b.h"
#include "frame/convert.h"
#include "frame/exchange.h"
#include "kxconf.h"

namespace kx {
namespace {

constexpr uint32_t known_options = KX_SEARCH_ALL_INTERFACES;
// Adapters searched beyond the limited broadcast.
constexpr int max_interfaces = 32;

// Parses one answer into record. True for a device of either family; false
// for anything else, including a family B device's "Q7" answer to the family
// A probe (it answers the family B request as well).
bool parse_answer(exchange &ex, kx_device_record &record) {
    kxb_settings_record working{};
    switch (judge_search_reply_b(received_bytes(ex), working)) {
        case search_reply::device:
            fill_device_record_b(working, record);
            return true;
        case search_reply::other_family:
            return false;
        case search_reply::damaged:
            break;  // perhaps a family A answer
    }
    if (!listed_search_reply_a(received_bytes(ex))) return false;
    uint8_t sender[4];
    std::memcpy(sender, &ex.sender, sizeof sender);
    ip_to_text(sender, record.ip_address);
    return judge_search_reply_a(received_bytes(ex), record) == search_reply_a::device;
}

bool already_listed(const kx_device_record *records, int32_t listed,
                    const kx_device_record &device) {
    for (int32_t i = 0; i < listed; ++i)
        if (records[i].family == device.family &&
            std::memcmp(records[i].device_id, device.device_id, sizeof device.device_id) == 0)
            return true;
    return false;
}

// Both requests to one broadcast address.
void send_search_requests(exchange &ex, platform::ipv4_net address) {
    const short_packet request_b = search_request_b();
    platform::send_to(ex.sock, address, family_a_port, search_request_a, sizeof search_request_a);
    platform::send_to(ex.sock, address, family_b_port, request_b.data(), request_b.size());
}

}  // namespace
}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kx_discover(kx_device_record *records, int32_t capacity,
                                           int32_t *count, uint32_t options) {
    if (records == nullptr || count == nullptr || capacity < 0 || (options & ~known_options) != 0)
        return KX_E_ARGUMENT;
    *count = 0;
    exchange ex;
    if (open_exchange(ex, nullptr, family_a_port, target::search_broadcast) != KX_OK)
        return KX_E_SOCKET;
    send_search_requests(ex, ex.destination);
    // The limited broadcast leaves by one interface only; the directed
    // broadcast of each adapter reaches the devices behind the others.
    if ((options & KX_SEARCH_ALL_INTERFACES) != 0) {
        platform::ipv4_net broadcasts[max_interfaces];
        const int n = platform::directed_broadcasts(broadcasts, max_interfaces);
        for (int i = 0; i < n; ++i) send_search_requests(ex, broadcasts[i]);
    }

    int32_t listed = 0;
    bool overflowed = false;
    collect_replies(ex, search_quiet_ms, [&](exchange &e) {
        kx_device_record device{};
        if (!parse_answer(e, device) || already_listed(records, listed, device)) return true;
        // Past the capacity the answers are still read, so that none is left
        // queued for the next operation on this port.
        if (listed == capacity) {
            overflowed = true;
            return true;
        }
        std::memcpy(&records[listed], &device, sizeof device);
        ++listed;
        return true;
    });
    close_exchange(ex);
    *count = listed;
    return overflowed ? KX_E_CAPACITY : KX_OK;
}
