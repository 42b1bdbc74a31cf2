// The datagram exchange: one UDP socket on local port 65281 for the length of
// one operation, and the three shapes every family operation is built from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/platform.h"

namespace kx {

constexpr uint16_t local_port = 65281;

// The waits every family shares; a family's own are in its table entry.
constexpr int search_quiet_ms = 300;  // a broadcast search ends after this much quiet
constexpr int reply_wait_ms = 1000;   // every other reply
// Overall bounds, so a peer that never falls quiet (or keeps sending
// non-matching datagrams) cannot hold the caller for ever.
constexpr int collection_bound_ms = 10000;
constexpr int matching_bound_ms = 10000;

constexpr size_t max_datagram = 256;
static_assert(platform::datagram_batch::datagram_capacity == max_datagram);
// A broadcast search's receive queue: a thousand devices answering at once
// (1000 settings packets with the kernel's per-datagram overhead) fit in it.
constexpr int search_receive_buffer = 4 * 1024 * 1024;

enum class target {
    // Address text shorter than 7 characters: bind, then broadcast
    // permission, send to 255.255.255.255. Otherwise the parsed address.
    broadcast_rule,
    // Broadcast permission before binding; always 255.255.255.255; a large
    // receive queue for the burst of answers (search).
    search_broadcast,
    // Bind, then broadcast permission; 255.255.255.255 whatever the text.
    broadcast,
    // The parsed address, never broadcast permission.
    address,
    // Many addresses, each datagram naming its own: a large receive queue,
    // never broadcast permission (sweep).
    sweep,
};

struct exchange {
    platform::udp_socket sock;
    platform::ipv4_net destination = 0;
    uint16_t remote_port = 0;
    bool broadcasting = false;
    // Whether the every-adapter option was on when the exchange opened.
    bool every_adapter = false;
    // The adapters that each datagram to 255.255.255.255 leaves by, one copy
    // by each; none (the default): by the system's route alone. Incomplete
    // when the system listed more adapters than it holds.
    platform::adapter_list routes;
    // A device address on none of the host's subnets, for an exchange that
    // broadcasts whatever its address text says: every datagram to the
    // destination goes there too, since no broadcast crosses a router. 0:
    // none.
    platform::ipv4_net routed_device = 0;
    platform::ipv4_net sender = 0;  // source of the last datagram received
    int received = 0;               // length of the last datagram received
    // One byte more than a datagram, so a NUL can always follow the bytes.
    uint8_t receive_area[max_datagram + 1] = {};
};

// The bytes of the last datagram received by an exchange.
inline std::span<const uint8_t> received_bytes(const exchange &ex) {
    return {ex.receive_area, static_cast<size_t>(ex.received > 0 ? ex.received : 0)};
}

// Operations that only send (login, logout) never wait for a datagram.
enum class wait_mode { waits, send_only };

// The pause after a closing or logout datagram, so that the device takes it
// before the next operation's first datagram.
constexpr int closing_pause_ms = 10;

// Opens the socket, binds local port 65281, gives broadcast permission as the
// target asks, sets the destination and (unless send_only) makes the socket
// ready to be waited on. With the every-adapter option on, a broadcasting
// exchange routes its limited broadcasts by adapter (route_limited_broadcasts)
// for the device at ip_text, when that is an address text. A target::broadcast
// exchange given the address of a device on none of the host's subnets
// sends each datagram to it as well (routed_device). KX_OK, or KX_E_SOCKET
// with the socket closed and nothing sent.
int32_t open_exchange(exchange &ex, const char *ip_text, uint16_t remote_port, target rule,
                      wait_mode mode = wait_mode::waits);
// Makes every later datagram to 255.255.255.255 leave by the adapters of the
// list (the exchange keeps a copy): by the one whose subnet holds device
// where one does, otherwise by each adapter once. A device of 0 or
// 255.255.255.255 is no device. An empty list leaves the system's route.
// The routes are as complete as the list.
void route_limited_broadcasts(exchange &ex, const platform::adapter_list &adapters,
                              platform::ipv4_net device);
// Whether address lies on a subnet of the host: 127.0.0.0/8, or the subnet
// of an adapter of the list (an address on an adapter the list left out
// counts as on none).
bool on_host_subnets(const platform::adapter_list &adapters, platform::ipv4_net address);
// To the destination (and to the routed device, where there is one).
void send_datagram(exchange &ex, const uint8_t *bytes, size_t length);
// The same to any address and port; 255.255.255.255 leaves as routed.
void send_datagram_to(exchange &ex, platform::ipv4_net address, uint16_t port, const uint8_t *bytes,
                      size_t length);
// Waits until a datagram is queued (at once when one already is).
bool wait_datagram(exchange &ex, int timeout_ms);
// One datagram into the receive area, NUL-terminated; its length or -1.
int receive_datagram(exchange &ex);
void close_exchange(exchange &ex);

enum class step { received, no_datagram, receive_failed };

// Single reply: arm, send, wait once, receive once. On step::received the
// datagram is in ex.receive_area / ex.received.
step single_reply(exchange &ex, const uint8_t *request, size_t length, int wait_ms);

// Single reply from the destination: send, then wait up to wait_ms in all
// for a datagram from the destination's address. Datagrams from other
// senders (a late answer to an earlier search, say) are read and dropped,
// even one too long to receive.
step reply_from_destination(exchange &ex, const uint8_t *request, size_t length, int wait_ms);

// Request and matching reply: send once, then wait/receive/reset until a
// datagram satisfies matches(ex), which ends the loop with step::received.
// Each dropped datagram starts a fresh full wait; the whole step is bounded
// by matching_bound_ms.
template <typename Match>
step matching_reply(exchange &ex, const uint8_t *request, size_t length, int wait_ms,
                    Match &&matches) {
    send_datagram(ex, request, length);
    const int64_t deadline = platform::now_ms() + matching_bound_ms;
    for (;;) {
        const int64_t left = deadline - platform::now_ms();
        if (left <= 0) return step::no_datagram;
        if (!wait_datagram(ex, left < wait_ms ? static_cast<int>(left) : wait_ms))
            return step::no_datagram;
        const int n = receive_datagram(ex);
        if (n < 0) return step::receive_failed;
        if (matches(ex)) return step::received;
    }
}

// Takes datagram i of a batch as the exchange's last datagram received;
// false for one that was too long (a receive failure).
bool take_from_batch(exchange &ex, const platform::datagram_batch &batch, int i);

// Collection, once the requests are sent: until quiet_ms pass without a
// datagram (or the deadline, on the platform::now_ms clock), drain the queue
// without waiting, a batch of datagrams at a time, and hand each datagram to
// accept(ex) in order of arrival. A datagram too long (a failed receive) is
// skipped, and what is queued behind it read on.
template <typename Accept>
void collect_until(exchange &ex, int quiet_ms, int64_t deadline, Accept &&accept) {
    platform::datagram_batch batch;
    for (;;) {
        const int64_t left = deadline - platform::now_ms();
        if (left <= 0) return;
        if (!wait_datagram(ex, left < quiet_ms ? static_cast<int>(left) : quiet_ms)) return;
        // Reading goes first and parsing after, a batch at a time, so that a
        // burst of answers spends as little time as it can in the queue. The
        // bound holds inside a drain too: a queue kept full cannot hold the
        // caller either.
        while (platform::now_ms() < deadline && platform::receive_batch(ex.sock, batch) > 0)
            for (int i = 0; i < batch.count; ++i)
                if (take_from_batch(ex, batch, i)) accept(ex);
    }
}

// The same within collection_bound_ms from now.
template <typename Accept>
void collect_replies(exchange &ex, int quiet_ms, Accept &&accept) {
    collect_until(ex, quiet_ms, platform::now_ms() + collection_bound_ms,
                  static_cast<Accept &&>(accept));
}

// Collection of the answers to one request.
template <typename Accept>
void collect(exchange &ex, const uint8_t *request, size_t length, int quiet_ms, Accept &&accept) {
    send_datagram(ex, request, length);
    collect_replies(ex, quiet_ms, static_cast<Accept &&>(accept));
}

}  // namespace kx
