#include "frame/exchange.h"

#include <cstring>

#include "frame/convert.h"
#include "frame/options.h"
#include "kxconf.h"

namespace kx {

namespace {

constexpr platform::ipv4_net limited_broadcast = 0xFFFFFFFFu;

int32_t fail_open(exchange &ex) {
    platform::close(ex.sock);
    return KX_E_SOCKET;
}

}  // namespace

int32_t open_exchange(exchange &ex, const char *ip_text, uint16_t remote_port, target rule,
                      wait_mode mode) {
    ex.remote_port = remote_port;
    ex.received = 0;
    ex.broadcasting = rule == target::search_broadcast || rule == target::broadcast ||
                      (rule == target::broadcast_rule && text_length(ip_text) < min_address_text);
    if (!platform::open_udp(ex.sock)) return KX_E_SOCKET;
    if (rule == target::search_broadcast || rule == target::sweep)
        platform::request_receive_buffer(ex.sock, search_receive_buffer);
    if (rule == target::search_broadcast) {
        if (!platform::allow_broadcast(ex.sock) || !platform::bind_any(ex.sock, local_port))
            return fail_open(ex);
    } else {
        if (!platform::bind_any(ex.sock, local_port)) return fail_open(ex);
        if (ex.broadcasting && !platform::allow_broadcast(ex.sock)) return fail_open(ex);
    }
    ex.destination = ex.broadcasting ? limited_broadcast
                                     : platform::parse_ipv4(ip_text != nullptr ? ip_text : "");
    ex.every_adapter = every_adapter_option();
    ex.routed_device = 0;
    const platform::ipv4_net device =
        text_length(ip_text) >= min_address_text ? platform::parse_ipv4(ip_text) : 0;
    const bool known_device = device != 0 && device != limited_broadcast;
    const bool routes_by_device = rule == target::broadcast && known_device;
    if (ex.broadcasting && (ex.every_adapter || routes_by_device)) {
        platform::adapter_list adapters;
        platform::list_adapters(adapters);
        if (ex.every_adapter) route_limited_broadcasts(ex, adapters, device);
        if (routes_by_device && !on_host_subnets(adapters, device)) ex.routed_device = device;
    }
    if (mode == wait_mode::waits && !platform::prepare_waiting(ex.sock)) return fail_open(ex);
    return KX_OK;
}

void route_limited_broadcasts(exchange &ex, const platform::adapter_list &adapters,
                              platform::ipv4_net device) {
    platform::adapter_list &routes = ex.routes;
    routes.count = 0;
    routes.complete = adapters.complete;
    const bool known = device != 0 && device != limited_broadcast;
    for (int i = 0; i < adapters.count && known; ++i)
        if (platform::subnet_holds(adapters.entries[i], device)) {
            routes.entries[routes.count++] = adapters.entries[i];
            return;
        }
    // Each adapter once, however many addresses it has: one copy reaches
    // its whole link.
    for (int i = 0; i < adapters.count; ++i) {
        bool listed = false;
        for (int k = 0; k < routes.count && !listed; ++k)
            listed = routes.entries[k].index == adapters.entries[i].index;
        if (!listed) routes.entries[routes.count++] = adapters.entries[i];
    }
}

void send_datagram_to(exchange &ex, platform::ipv4_net address, uint16_t port, const uint8_t *bytes,
                      size_t length) {
    if (address != limited_broadcast || ex.routes.count == 0) {
        platform::send_to(ex.sock, address, port, bytes, length);
        return;
    }
    for (int i = 0; i < ex.routes.count; ++i)
        platform::send_limited_broadcast(ex.sock, ex.routes.entries[i], port, bytes, length);
}

bool on_host_subnets(const platform::adapter_list &adapters, platform::ipv4_net address) {
    if (platform::number_of(address) >> 24 == 127) return true;
    for (int i = 0; i < adapters.count; ++i)
        if (platform::subnet_holds(adapters.entries[i], address)) return true;
    return false;
}

void send_datagram(exchange &ex, const uint8_t *bytes, size_t length) {
    send_datagram_to(ex, ex.destination, ex.remote_port, bytes, length);
    if (ex.routed_device != 0)
        platform::send_to(ex.sock, ex.routed_device, ex.remote_port, bytes, length);
}

bool wait_datagram(exchange &ex, int timeout_ms) {
    return platform::wait_readable(ex.sock, timeout_ms);
}

int receive_datagram(exchange &ex) {
    const int n = platform::receive_from(ex.sock, ex.receive_area, max_datagram, ex.sender);
    ex.received = n < 0 ? 0 : n;
    ex.receive_area[ex.received] = 0;
    return n;
}

bool take_from_batch(exchange &ex, const platform::datagram_batch &batch, int i) {
    const int n = batch.lengths[i];
    ex.received = n < 0 ? 0 : n;
    if (n > 0) std::memcpy(ex.receive_area, batch.bytes[i], static_cast<size_t>(n));
    ex.receive_area[ex.received] = 0;
    if (n < 0) return false;
    ex.sender = batch.senders[i];
    return true;
}

void close_exchange(exchange &ex) { platform::close(ex.sock); }

step single_reply(exchange &ex, const uint8_t *request, size_t length, int wait_ms) {
    send_datagram(ex, request, length);
    if (!wait_datagram(ex, wait_ms)) return step::no_datagram;
    return receive_datagram(ex) < 0 ? step::receive_failed : step::received;
}

step reply_from_destination(exchange &ex, const uint8_t *request, size_t length, int wait_ms) {
    send_datagram(ex, request, length);
    const int64_t deadline = platform::now_ms() + wait_ms;
    for (;;) {
        const int64_t left = deadline - platform::now_ms();
        if (left <= 0 || !wait_datagram(ex, static_cast<int>(left))) return step::no_datagram;
        ex.sender = 0;  // stays 0 when the receive reads nothing at all
        const int n = receive_datagram(ex);
        if (ex.sender != 0 && ex.sender != ex.destination) continue;
        return n < 0 ? step::receive_failed : step::received;
    }
}

}  // namespace kx
