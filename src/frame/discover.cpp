// kx_discover: every family's search request from one socket, the answers
// collected in one quiet window, each device listed once and never more
// devices written than the caller's array holds. Where the system reports
// answers dropped from a full receive queue, the requests go out again.
#include <cstring>
#include <span>

#include "frame/exchange.h"
#include "frame/family.h"
#include "frame/listed_devices.h"
#include "kxconf.h"

namespace kx {
namespace {

constexpr uint32_t known_options = KX_SEARCH_ALL_INTERFACES;
constexpr platform::ipv4_net limited_broadcast = 0xFFFFFFFFu;
// Rounds of requests in all when answers keep being dropped, and the pause
// in the answers after which the drops are looked at (a burst of answers
// has passed by then).
constexpr int max_rounds = 5;
constexpr int settle_ms = 50;

// The families in the order their requests go out and their answers are
// read: the list's first family last, since the devices of every family
// answer its probe (family B's with "Q7", which lists nothing), and a
// device's answer to its own family's request should come ahead of that.
const family_ops &family_in_turn(size_t turn) {
    return *family_list[(turn + 1) % family_list.size()];
}

// Parses one answer into record: true for a device of any family.
bool parse_answer(const exchange &ex, kx_device_record &record) {
    for (size_t turn = 0; turn < family_list.size(); ++turn) {
        const family_ops &family = family_in_turn(turn);
        if (family.parse_answer(family, ex, record)) return true;
    }
    return false;
}

// Where a family can tell an answer's identity without decoding it, whether
// it names a device listed already: most answers in a round after the first
// are from such devices.
bool identified_and_listed(std::span<const uint8_t> answer, const listed_devices &index,
                           int32_t listed, kx_device_record &device) {
    for (const family_ops *family : family_list)
        if (family->identify_answer != nullptr && family->identify_answer(*family, answer, device))
            return index.contains(device, listed);
    return false;
}

// Every family's request to one address.
void send_search_requests(exchange &ex, platform::ipv4_net address) {
    for (size_t turn = 0; turn < family_list.size(); ++turn) {
        const family_ops &family = family_in_turn(turn);
        const request_datagram request = family.search_request();
        send_datagram_to(ex, address, family.device_port, request.bytes, request.length);
    }
}

// The limited broadcast (routed as the exchange says), then each distinct
// directed broadcast of the adapters. A /31 or /32 subnet has none: its
// devices hear the limited broadcast out of its adapter.
void send_all_requests(exchange &ex, const platform::adapter_list &adapters) {
    send_search_requests(ex, limited_broadcast);
    for (int i = 0; i < adapters.count; ++i) {
        if (!platform::has_broadcast(adapters.entries[i].netmask)) continue;
        const platform::ipv4_net address = platform::broadcast_of(adapters.entries[i]);
        bool sent = false;
        for (int k = 0; k < i && !sent; ++k)
            sent = platform::has_broadcast(adapters.entries[k].netmask) &&
                   platform::broadcast_of(adapters.entries[k]) == address;
        if (!sent) send_search_requests(ex, address);
    }
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
    // Every datagram names its port.
    if (open_exchange(ex, nullptr, 0, target::search_broadcast) != KX_OK) return KX_E_SOCKET;
    // The limited broadcast leaves by one adapter only. Searching every
    // adapter sends it out of each, so that a device whose address fits no
    // subnet of the host answers too, and adds each adapter's directed
    // broadcast.
    platform::adapter_list adapters;
    if ((options & KX_SEARCH_ALL_INTERFACES) != 0) {
        platform::list_adapters(adapters);
        route_limited_broadcasts(ex, adapters, 0);
    }

    listed_devices index(records);
    int32_t listed = 0;
    bool overflowed = false;
    const auto take = [&](exchange &e) {
        kx_device_record device{};
        if (identified_and_listed(received_bytes(e), index, listed, device)) return;
        if (!parse_answer(e, device) || index.contains(device, listed)) return;
        // Past the capacity the answers are still read, so that none is left
        // queued for the next operation on this port.
        if (listed == capacity) {
            overflowed = true;
            return;
        }
        std::memcpy(&records[listed], &device, sizeof device);
        index.add(listed);
        ++listed;
    };

    const int64_t deadline = platform::now_ms() + collection_bound_ms;
    int64_t drops_at_request = platform::dropped_datagrams(ex.sock);
    send_all_requests(ex, adapters);
    for (int round = 1;;) {
        // Each time the answers pause, look at the drops: answers the system
        // dropped since the last requests may be from devices not listed yet,
        // so ask again at once, unless the array is full anyway.
        collect_until(ex, settle_ms, deadline, take);
        const int64_t drops = platform::dropped_datagrams(ex.sock);
        if (drops > drops_at_request && !overflowed && round < max_rounds &&
            platform::now_ms() < deadline) {
            ++round;
            send_all_requests(ex, adapters);
            drops_at_request = drops;
            continue;
        }
        // Otherwise the rest of the quiet window ends the search, unless more
        // answers come.
        const int64_t left = deadline - platform::now_ms();
        const int rest = search_quiet_ms - settle_ms;
        if (left <= 0 || !wait_datagram(ex, left < rest ? static_cast<int>(left) : rest)) break;
    }
    const bool dropped = platform::dropped_datagrams(ex.sock) > drops_at_request;
    // The adapters left out of a list too long (whether the search listed
    // them or the every-adapter option did) may have devices behind them.
    const bool every_adapter_covered = ex.routes.complete;
    close_exchange(ex);
    *count = listed;
    if (overflowed) return KX_E_CAPACITY;
    return dropped || !every_adapter_covered ? KX_INCOMPLETE : KX_OK;
}
