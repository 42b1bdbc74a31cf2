// kx_discover and kx_discover_directed: every family's search request from
// one socket, the answers collected in one quiet window, each device listed
// once and never more devices written than the caller's array holds. Where
// the system reports answers dropped from a full receive queue, the requests
// go out again; where the last of them still lost answers, the addresses not
// heard from near the answers (and on the host's own small subnets) are
// asked one at a time, paced, which brings no burst of answers.
#include <span>

#include "frame/answers.h"
#include "frame/exchange.h"
#include "frame/family.h"
#include "frame/heard_blocks.h"
#include "frame/sweep.h"
#include "kxconf.h"

namespace kx {
namespace {

constexpr uint32_t known_options = KX_SEARCH_ALL_INTERFACES;
constexpr platform::ipv4_net limited_broadcast = 0xFFFFFFFFu;
constexpr int32_t most_directed_addresses = 256;
// Rounds of requests in all when answers keep being dropped, and the pause
// in the answers after which the drops are looked at (a burst of answers
// has passed by then).
constexpr int max_rounds = 5;
constexpr int settle_ms = 50;
constexpr int max_completion_passes = 3;

// Where each round's requests go: the caller's addresses where it gives
// any, otherwise 255.255.255.255 and, searching every adapter (adapters
// given), out of each of them and to each one's directed broadcast.
struct request_targets {
    const platform::adapter_list *adapters = nullptr;
    std::span<const uint32_t> addresses;  // numbers, as kx_address_range's
};

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
void send_all_requests(exchange &ex, const request_targets &targets) {
    for (uint32_t address : targets.addresses)
        send_search_requests(ex, platform::address_of(address));
    if (!targets.addresses.empty()) return;
    send_search_requests(ex, limited_broadcast);
    if (targets.adapters == nullptr) return;
    const platform::adapter_list &adapters = *targets.adapters;
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

// The blocks' addresses not heard from, for the completion.
class unheard_source final : public address_source {
  public:
    explicit unheard_source(heard_blocks &blocks) : blocks_(blocks) {}
    bool next(platform::ipv4_net &address) override { return blocks_.next_unheard(address); }

  private:
    heard_blocks &blocks_;
};

// The search: rounds of requests to the targets, then, where the last round
// lost answers, the completion. own_subnets: the completion asks the host's
// own small subnets too.
int32_t discover(kx_device_record *records, int32_t capacity, int32_t *count,
                 request_targets targets, bool own_subnets) {
    *count = 0;
    exchange ex;
    // Every datagram names its port.
    if (open_exchange(ex, nullptr, 0, target::search_broadcast) != KX_OK) return KX_E_SOCKET;
    if (targets.adapters != nullptr) route_limited_broadcasts(ex, *targets.adapters, 0);

    collected_devices devices(records, capacity);
    heard_blocks blocks;
    int64_t arrivals = 0;  // datagrams read during the rounds
    const auto take = [&](exchange &e) {
        ++arrivals;
        if (devices.take(e).kind == answer_verdict::device) blocks.heard(e.sender);
    };

    const int64_t deadline = platform::now_ms() + collection_bound_ms;
    const int64_t drops_at_open = platform::dropped_datagrams(ex.sock);
    int64_t drops_at_request = drops_at_open;
    int rounds = 1;
    send_all_requests(ex, targets);
    for (;;) {
        // Each time the answers pause, look at the drops: answers the system
        // dropped since the last requests may be from devices not listed yet,
        // so ask again at once, unless the array is full anyway.
        collect_until(ex, settle_ms, deadline, take);
        const int64_t drops = platform::dropped_datagrams(ex.sock);
        if (drops > drops_at_request && !devices.overflowed() && rounds < max_rounds &&
            platform::now_ms() < deadline) {
            ++rounds;
            send_all_requests(ex, targets);
            drops_at_request = drops;
            continue;
        }
        // Otherwise the rest of the quiet window ends the rounds, unless more
        // answers come.
        const int64_t left = deadline - platform::now_ms();
        const int rest = search_quiet_ms - settle_ms;
        if (left <= 0 || !wait_datagram(ex, left < rest ? static_cast<int>(left) : rest)) break;
    }
    const int64_t drops_in_rounds = platform::dropped_datagrams(ex.sock);
    bool missing = drops_in_rounds > drops_at_request;
    if (missing && !devices.overflowed() && platform::now_ms() < deadline) {
        // Asking the same burst again would lose the same answers: ask the
        // addresses not heard from, one by one.
        if (own_subnets) {
            platform::adapter_list adapters;
            platform::list_adapters(adapters);
            for (int i = 0; i < adapters.count; ++i) blocks.add_subnet(adapters.entries[i]);
        }
        // A pass that lost answers too is followed by another, slower one
        // over the addresses still not heard from.
        sweep_outcome swept;
        uint32_t rate = KX_SWEEP_DEFAULT_RATE;
        for (int pass = 1; pass <= max_completion_passes; ++pass, rate /= 2) {
            blocks.restart();
            unheard_source unheard(blocks);
            swept = sweep(ex, devices, &blocks, unheard, rate, deadline, nullptr);
            if (!swept.lost || swept.cut || devices.overflowed()) break;
        }
        // Every answer that reached the socket in the rounds, read or
        // dropped, must be one that the devices now listed give: otherwise a
        // device the completion did not reach answered.
        const int64_t reached = arrivals + (drops_in_rounds - drops_at_open);
        const bool accounted = reached <= rounds * devices.answers_per_round();
        missing = swept.incomplete() || !blocks.complete() || !accounted;
    }
    // The adapters left out of a list too long (whether the search listed
    // them or the every-adapter option did) may have devices behind them.
    const bool every_adapter_covered = ex.routes.complete;
    close_exchange(ex);
    *count = devices.listed();
    if (devices.overflowed()) return KX_E_CAPACITY;
    return missing || !every_adapter_covered ? KX_INCOMPLETE : KX_OK;
}

}  // namespace
}  // namespace kx

using namespace kx;

KXCONF_API int32_t KXCONF_CALL kx_discover(kx_device_record *records, int32_t capacity,
                                           int32_t *count, uint32_t options) {
    if (records == nullptr || count == nullptr || capacity < 0 || (options & ~known_options) != 0)
        return KX_E_ARGUMENT;
    // The limited broadcast leaves by one adapter only. Searching every
    // adapter sends it out of each, so that a device whose address fits no
    // subnet of the host answers too, and adds each adapter's directed
    // broadcast.
    if ((options & KX_SEARCH_ALL_INTERFACES) == 0)
        return discover(records, capacity, count, {}, true);
    platform::adapter_list adapters;
    platform::list_adapters(adapters);
    return discover(records, capacity, count, {&adapters, {}}, true);
}

KXCONF_API int32_t KXCONF_CALL kx_discover_directed(kx_device_record *records, int32_t capacity,
                                                    int32_t *count, const uint32_t *addresses,
                                                    int32_t address_count) {
    if (records == nullptr || count == nullptr || capacity < 0 || addresses == nullptr ||
        address_count < 1 || address_count > most_directed_addresses)
        return KX_E_ARGUMENT;
    for (int32_t i = 0; i < address_count; ++i)
        if (addresses[i] == 0) return KX_E_ARGUMENT;
    return discover(records, capacity, count,
                    {nullptr, {addresses, static_cast<size_t>(address_count)}}, false);
}
