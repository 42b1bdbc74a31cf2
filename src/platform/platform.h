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

namespace kx::platform {

// Plain value, no heap: both back ends fit their handles in it.
struct udp_socket {
    intptr_t handle = -1;  // socket descriptor / SOCKET
    intptr_t event = 0;    // what the back end waits on, if it needs more than the handle
};

// IPv4 address in network byte order, exactly as inet_addr returns it
// (first octet in the lowest-addressed byte).
using ipv4_net = uint32_t;

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
// Makes the socket ready for wait_readable; it is non-blocking from here on.
// False on failure.
bool prepare_waiting(udp_socket &sock);
// Waits up to timeout_ms until a datagram is queued (at once when one already
// is); an interrupted wait goes on for the time that is left. Any other
// outcome (timeout, failure, a socket not prepared) is false.
bool wait_readable(udp_socket &sock, int timeout_ms);
// Sends one datagram; the outcome is not reported.
void send_to(udp_socket &sock, ipv4_net address, uint16_t port, const uint8_t *bytes,
             size_t length);
// Receives one queued datagram without blocking into buffer (capacity bytes).
// Returns its length, or -1 when nothing is queued, the receive fails, or the
// datagram is longer than capacity (it is never delivered truncated).
// sender receives the source address.
int receive_from(udp_socket &sock, uint8_t *buffer, size_t capacity, ipv4_net &sender);
// Closes the socket and releases whatever waiting needed.
void close(udp_socket &sock);

// The directed broadcast addresses of the up IPv4 interfaces that have one
// (loopback has none), each once, at most capacity of them. Returns how many
// were stored; 0 when the interfaces cannot be listed.
int directed_broadcasts(ipv4_net *addresses, int capacity);

void sleep_ms(int milliseconds);
// Monotonic milliseconds, for overall bounds on loops.
int64_t now_ms();

// The platform's IPv4 text conversions (inet_addr / inet_ntoa).
// Invalid text parses as 255.255.255.255.
ipv4_net parse_ipv4(const char *text);
// Dotted text with a NUL, at most 16 bytes.
void format_ipv4(ipv4_net address, char (&text)[16]);

}  // namespace kx::platform
