// Windows Sockets 2 back end of the socket layer: one event object per
// socket, tied to it with WSAEventSelect(FD_READ), which also makes the socket
// non-blocking; waits are alertable WSAWaitForMultipleEvents on that event.
// GetTickCount64 and IP_UNICAST_IF need Windows Vista or later.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
// inet_addr and inet_ntoa are the conversions this library is defined by.
#define _WINSOCK_DEPRECATED_NO_WARNINGS
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <iphlpapi.h>
#include <mstcpip.h>
#include <windows.h>
#include <ws2ipdef.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/socket_address.h"

// Not every SDK's headers name it; the value is fixed by the Winsock ABI.
#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif
#ifndef SIO_UDP_NETRESET
#define SIO_UDP_NETRESET _WSAIOW(IOC_VENDOR, 15)
#endif

namespace kx::platform {

namespace {

SOCKET socket_of(const udp_socket &sock) { return static_cast<SOCKET>(sock.handle); }
WSAEVENT event_of(const udp_socket &sock) { return reinterpret_cast<WSAEVENT>(sock.event); }
bool has_event(const udp_socket &sock) { return sock.event != 0; }

// Winsock reports an ICMP port-unreachable for an earlier send as a failure
// (WSAECONNRESET) of the next receive, and an ICMP time-exceeded as one
// (WSAENETRESET), signalling read readiness for either. Linux reports nothing
// on an unconnected UDP socket. Turning both reports off makes them a plain
// silence on both platforms. A stack that refuses a control keeps its
// default; nothing else depends on it.
void turn_off_report(SOCKET s, DWORD control) {
    BOOL report = FALSE;
    DWORD returned = 0;
    (void)::WSAIoctl(s, control, &report, sizeof report, nullptr, 0, &returned, nullptr, nullptr);
}

void ignore_icmp_errors(SOCKET s) {
    turn_off_report(s, SIO_UDP_CONNRESET);
    turn_off_report(s, SIO_UDP_NETRESET);
}

}  // namespace

bool startup() {
    WSADATA data{};
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return false;
    if (data.wVersion != MAKEWORD(2, 2)) {
        ::WSACleanup();
        return false;
    }
    return true;
}

void cleanup() { ::WSACleanup(); }

bool open_udp(udp_socket &sock) {
    const SOCKET s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sock.event = 0;
    if (s == INVALID_SOCKET) {
        sock.handle = -1;
        return false;
    }
    sock.handle = static_cast<intptr_t>(s);
    ignore_icmp_errors(s);
    return true;
}

bool bind_any(udp_socket &sock, uint16_t port) {
    // Exclusive use: without it, another socket that asks for address reuse
    // could bind the same port and share our replies.
    BOOL exclusive = TRUE;
    (void)::setsockopt(socket_of(sock), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                       reinterpret_cast<const char *>(&exclusive), sizeof exclusive);
    sockaddr_in sa = make_address(htonl(INADDR_ANY), port);
    return ::bind(socket_of(sock), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0;
}

bool allow_broadcast(udp_socket &sock) {
    BOOL on = TRUE;
    return ::setsockopt(socket_of(sock), SOL_SOCKET, SO_BROADCAST,
                        reinterpret_cast<const char *>(&on), sizeof on) == 0;
}

void request_receive_buffer(udp_socket &sock, int bytes) {
    (void)::setsockopt(socket_of(sock), SOL_SOCKET, SO_RCVBUF,
                       reinterpret_cast<const char *>(&bytes), sizeof bytes);
}

// Winsock does not report a socket's drops (it grants the large queue asked
// for instead).
int64_t dropped_datagrams(udp_socket &) { return -1; }

bool prepare_waiting(udp_socket &sock) {
    const WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT) return false;
    sock.event = reinterpret_cast<intptr_t>(event);
    // close() releases the event if the selection fails.
    return ::WSAEventSelect(socket_of(sock), event, FD_READ) == 0;
}

bool wait_readable(udp_socket &sock, int timeout_ms) {
    if (!has_event(sock)) return false;
    const WSAEVENT event = event_of(sock);
    // A signal left from a datagram already received would end the wait at
    // once with nothing to receive: clear it, then select again, which
    // records FD_READ and signals the event at once if a datagram is queued.
    (void)::WSAResetEvent(event);
    (void)::WSAEventSelect(socket_of(sock), event, FD_READ);
    // Alertable: the caller's queued APCs run during the wait, which then
    // ends with WSA_WAIT_IO_COMPLETION; wait again for the time that is left,
    // as the POSIX back end does after a signal.
    const int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        const DWORD timeout = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 0;
        const DWORD outcome = ::WSAWaitForMultipleEvents(1, &event, FALSE, timeout, TRUE);
        if (outcome != WSA_WAIT_IO_COMPLETION) return outcome == WSA_WAIT_EVENT_0;
        const int64_t left = deadline - now_ms();
        if (left <= 0) return false;
        timeout_ms = static_cast<int>(left);
    }
}

void send_to(udp_socket &sock, ipv4_net address, uint16_t port, const uint8_t *bytes,
             size_t length) {
    sockaddr_in sa = make_address(address, port);
    (void)::sendto(socket_of(sock), reinterpret_cast<const char *>(bytes), static_cast<int>(length),
                   0, reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
}

int receive_from(udp_socket &sock, uint8_t *buffer, size_t capacity, ipv4_net &sender) {
    sockaddr_in from{};
    int from_length = sizeof from;
    // A datagram larger than the buffer fails with WSAEMSGSIZE (and is
    // discarded); an empty queue fails with WSAEWOULDBLOCK. Both are -1.
    const int n =
        ::recvfrom(socket_of(sock), reinterpret_cast<char *>(buffer), static_cast<int>(capacity), 0,
                   reinterpret_cast<sockaddr *>(&from), &from_length);
    if (n == SOCKET_ERROR && ::WSAGetLastError() != WSAEMSGSIZE) return -1;
    sender = from.sin_addr.s_addr;
    return n == SOCKET_ERROR ? -1 : n;
}

void close(udp_socket &sock) {
    if (sock.handle != -1) ::closesocket(socket_of(sock));
    sock.handle = -1;
    if (has_event(sock)) ::WSACloseEvent(event_of(sock));
    sock.event = 0;
}

int receive_batch(udp_socket &sock, datagram_batch &batch) {
    // Winsock has no call that reads several datagrams at once.
    batch.count = 0;
    while (batch.count < datagram_batch::capacity) {
        const int i = batch.count;
        sockaddr_in from{};
        int from_length = sizeof from;
        const int n = ::recvfrom(socket_of(sock), reinterpret_cast<char *>(batch.bytes[i]),
                                 static_cast<int>(datagram_batch::datagram_capacity), 0,
                                 reinterpret_cast<sockaddr *>(&from), &from_length);
        // A datagram too long for the buffer is discarded with WSAEMSGSIZE.
        if (n == SOCKET_ERROR && ::WSAGetLastError() != WSAEMSGSIZE) break;
        batch.lengths[i] = n == SOCKET_ERROR ? -1 : n;
        batch.senders[i] = from.sin_addr.s_addr;
        ++batch.count;
    }
    return batch.count;
}

void list_adapters(adapter_list &list) {
    list.count = 0;
    list.complete = true;
    // The IPv4 address table has small fixed rows: this buffer holds over a
    // thousand, far more than the list keeps, so it is read whole however
    // many adapters carry long descriptions.
    alignas(8) unsigned char buffer[32 * 1024];
    auto *table = reinterpret_cast<MIB_IPADDRTABLE *>(buffer);
    ULONG size = sizeof buffer;
    if (::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) {
        list.complete = false;
        return;
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_IPADDRROW &row = table->table[i];
        if ((row.wType & (MIB_IPADDR_DISCONNECTED | MIB_IPADDR_DELETED)) != 0) continue;
        uint8_t first_octet = 0;
        std::memcpy(&first_octet, &row.dwAddr, 1);
        if (row.dwAddr == 0 || first_octet == 127) continue;
        if (list.count == adapter_list::capacity) {
            list.complete = false;
            return;
        }
        list.entries[list.count++] = {row.dwIndex, row.dwAddr, row.dwMask};
    }
}

void send_limited_broadcast(udp_socket &sock, const adapter &by, uint16_t port,
                            const uint8_t *bytes, size_t length) {
    // The socket keeps its one binding (local port 65281 on every address);
    // IP_UNICAST_IF sends out of the adapter for this one datagram, then the
    // routing table decides again.
    const DWORD index = htonl(by.index);
    const DWORD routed = 0;
    (void)::setsockopt(socket_of(sock), IPPROTO_IP, IP_UNICAST_IF,
                       reinterpret_cast<const char *>(&index), sizeof index);
    send_to(sock, 0xFFFFFFFFu, port, bytes, length);
    (void)::setsockopt(socket_of(sock), IPPROTO_IP, IP_UNICAST_IF,
                       reinterpret_cast<const char *>(&routed), sizeof routed);
}

void sleep_ms(int milliseconds) {
    ::Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0);
}

int64_t now_ms() { return static_cast<int64_t>(::GetTickCount64()); }

ipv4_net parse_ipv4(const char *text) { return ::inet_addr(text); }

void format_ipv4(ipv4_net address, char (&text)[16]) {
    in_addr in{};
    in.s_addr = address;
    // inet_ntoa's buffer belongs to the calling thread and is reused by its
    // next call: copy it at once.
    const char *dotted = ::inet_ntoa(in);
    size_t n = dotted != nullptr ? std::strlen(dotted) : 0;
    if (n > sizeof text - 1) n = sizeof text - 1;
    if (n > 0) std::memcpy(text, dotted, n);
    text[n] = '\0';
}

}  // namespace kx::platform
