// Windows Sockets 2 back end of the socket layer: one event object per
// socket, tied to it with WSAEventSelect(FD_READ), which also makes the socket
// non-blocking; waits are alertable WSAWaitForMultipleEvents on that event.
// GetTickCount64 needs Windows Vista or later.
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
    const DWORD timeout = timeout_ms > 0 ? static_cast<DWORD>(timeout_ms) : 0;
    // Alertable: the caller's queued APCs may run, and then the wait ends
    // with WSA_WAIT_IO_COMPLETION, which counts as no datagram.
    return ::WSAWaitForMultipleEvents(1, &event, FALSE, timeout, TRUE) == WSA_WAIT_EVENT_0;
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
    if (n == SOCKET_ERROR) return -1;
    sender = from.sin_addr.s_addr;
    return n;
}

void close(udp_socket &sock) {
    if (sock.handle != -1) ::closesocket(socket_of(sock));
    sock.handle = -1;
    if (has_event(sock)) ::WSACloseEvent(event_of(sock));
    sock.event = 0;
}

int directed_broadcasts(ipv4_net *addresses, int capacity) {
    // The adapter list goes into a buffer of our own on the stack; a machine
    // with more adapters than it holds is searched by the limited broadcast
    // alone.
    alignas(8) unsigned char buffer[64 * 1024];
    ULONG size = sizeof buffer;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER |
                        GAA_FLAG_SKIP_FRIENDLY_NAME;
    auto *adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer);
    if (::GetAdaptersAddresses(AF_INET, flags, nullptr, adapters, &size) != NO_ERROR) return 0;
    int stored = 0;
    for (const IP_ADAPTER_ADDRESSES *a = adapters; a != nullptr; a = a->Next) {
        if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
        for (const IP_ADAPTER_UNICAST_ADDRESS *u = a->FirstUnicastAddress; u != nullptr;
             u = u->Next) {
            const sockaddr *sa = u->Address.lpSockaddr;
            // A /31 or /32 prefix has no broadcast address.
            if (sa == nullptr || sa->sa_family != AF_INET || u->OnLinkPrefixLength > 30) continue;
            sockaddr_in unicast{};
            std::memcpy(&unicast, sa, sizeof unicast);
            const uint32_t host_bits = 0xFFFFFFFFu >> u->OnLinkPrefixLength;
            const ipv4_net address = unicast.sin_addr.s_addr | htonl(host_bits);
            bool known = false;
            for (int k = 0; k < stored && !known; ++k) known = addresses[k] == address;
            if (known) continue;
            if (stored == capacity) return stored;
            addresses[stored++] = address;
        }
    }
    return stored;
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
