// The socket layer: exactly what the datagram exchange needs of the OS.
// One implementation file per OS (posix.cpp, winsock.cpp); nothing above
// this header knows which one is built.
//
// A socket is opened, bound, given broadcast permission, made ready to be
// waited on, and then sends, waits for a datagram and receives without
// blocking until it is closed. How a back end waits is its own business.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kx::platform {

// Plain value, no heap: both back ends fit their handles in it.
struct udp_socket {
    intptr_t handle = -1;  // socket descriptor / SOCKET
    intptr_t event = 0;    // what the back end waits on, if it needs more than the handle
};

// IPv4 address in network byte order, exactly as inet_addr returns it
// (first octet in the lowest-addressed byte).
using ipv4_net = uint32_t;

// The address as a number whose most significant byte is the first octet
// (10.2.0.1 is 0x0A020001), for ranges and subnet arithmetic; and back.
inline uint32_t number_of(ipv4_net address) {
    uint8_t o[4];
    std::memcpy(o, &address, sizeof o);
    return uint32_t{o[0]} << 24 | uint32_t{o[1]} << 16 | uint32_t{o[2]} << 8 | o[3];
}
inline ipv4_net address_of(uint32_t number) {
    const uint8_t o[4] = {static_cast<uint8_t>(number >> 24), static_cast<uint8_t>(number >> 16),
                          static_cast<uint8_t>(number >> 8), static_cast<uint8_t>(number)};
    ipv4_net address;
    std::memcpy(&address, o, sizeof address);
    return address;
}

// Process-wide start and stop (WSAStartup 2.2 / WSACleanup).
bool startup();
void cleanup();

// Creates an IPv4 datagram socket. False on failure.
bool open_udp(udp_socket &sock);
// Binds to the port on all local addresses, without address reuse.
bool bind_any(udp_socket &sock, uint16_t port);
// Socket-level broadcast permission.
bool allow_broadcast(udp_socket &sock);
// Asks for a receive queue of at least bytes, so that a burst of answers to
// a broadcast waits there instead of being dropped. The OS may cap the size;
// what it gives is taken and nothing is reported.
void request_receive_buffer(udp_socket &sock, int bytes);
// Datagrams the OS dropped for this socket since it was opened because its
// receive queue was full (or for other reasons of its own), or -1 where the
// OS does not say. Only the growth of the count means anything.
int64_t dropped_datagrams(udp_socket &sock);
// Makes the socket ready for wait_readable; it is non-blocking from here on.
// False on failure.
bool prepare_waiting(udp_socket &sock);
// Waits up to timeout_ms until a datagram is queued (at once when one already
// is); an interrupted wait (a signal, a queued APC) goes on for the time that
// is left. Any other outcome (timeout, failure, a socket not prepared) is
// false.
bool wait_readable(udp_socket &sock, int timeout_ms);
// Sends one datagram; the outcome is not reported.
void send_to(udp_socket &sock, ipv4_net address, uint16_t port, const uint8_t *bytes,
             size_t length);
// Receives one queued datagram without blocking into buffer (capacity bytes).
// Returns its length, or -1 when nothing is queued, the receive fails, or the
// datagram is longer than capacity (it is never delivered truncated).
// sender receives the source address of a datagram read, one too long
// included; it is left as it was when none was read.
int receive_from(udp_socket &sock, uint8_t *buffer, size_t capacity, ipv4_net &sender);
// The datagrams read by one receive_batch, in order of arrival.
struct datagram_batch {
    static constexpr int capacity = 32;
    static constexpr size_t datagram_capacity = 256;
    int count = 0;
    // -1 for a datagram longer than datagram_capacity (read and discarded,
    // never delivered truncated).
    int lengths[capacity] = {};
    ipv4_net senders[capacity] = {};
    // One byte more than a datagram, so a NUL can follow it.
    uint8_t bytes[capacity][datagram_capacity + 1] = {};
};
// Reads up to batch.capacity queued datagrams without blocking, in as few
// system calls as the OS allows. Returns batch.count: 0 when nothing is
// queued or the receive fails.
int receive_batch(udp_socket &sock, datagram_batch &batch);
// Closes the socket and releases whatever waiting needed.
void close(udp_socket &sock);

// One IPv4 address of an up, non-loopback adapter, whatever its prefix (/31
// and /32 included, and point-to-point links). An adapter with several
// addresses appears once for each.
struct adapter {
    uint32_t index = 0;  // the OS's interface index
    ipv4_net address = 0;
    ipv4_net netmask = 0;
};
inline ipv4_net broadcast_of(const adapter &a) { return a.address | ~a.netmask; }
// A subnet with fewer than two host bits (/31, /32) has no broadcast address;
// neither has a netmask of 0, which would claim every address.
inline bool has_broadcast(ipv4_net netmask) {
    uint8_t octets[4];
    std::memcpy(octets, &netmask, sizeof octets);
    return netmask != 0 && (octets[3] & 0x03) == 0;
}
inline bool subnet_holds(const adapter &a, ipv4_net address) {
    return ((a.address ^ address) & a.netmask) == 0;
}

// A generous bound: a host with more adapter addresses is told so.
struct adapter_list {
    static constexpr int capacity = 128;
    adapter entries[capacity] = {};
    int count = 0;
    // False when the OS listed more than capacity (the rest are left out) or
    // could not list its adapters at all.
    bool complete = true;
};
// Lists the adapters in the OS's order. The broadcast address is always
// computed from address and netmask, never taken from the OS.
void list_adapters(adapter_list &list);
// Sends one datagram to 255.255.255.255 out of the given adapter alone, from
// its address, wherever the routing table would send it.
void send_limited_broadcast(udp_socket &sock, const adapter &by, uint16_t port,
                            const uint8_t *bytes, size_t length);

void sleep_ms(int milliseconds);
// Monotonic milliseconds, for overall bounds on loops.
int64_t now_ms();

// The platform's IPv4 text conversions (inet_addr / inet_ntoa).
// Invalid text parses as 255.255.255.255.
ipv4_net parse_ipv4(const char *text);
// Dotted text with a NUL, at most 16 bytes.
void format_ipv4(ipv4_net address, char (&text)[16]);

}  // namespace kx::platform
