// POSIX back end of the socket layer: poll for readiness, recvmsg with
// MSG_DONTWAIT for the non-blocking receive.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/socket_address.h"

namespace kx::platform {

namespace {

int fd_of(const udp_socket &sock) { return static_cast<int>(sock.handle); }

}  // namespace

bool startup() { return true; }
void cleanup() {}

bool open_udp(udp_socket &sock) {
    sock.handle = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sock.event = 0;
    return sock.handle >= 0;
}

bool bind_any(udp_socket &sock, uint16_t port) {
    sockaddr_in sa = make_address(htonl(INADDR_ANY), port);
    return ::bind(fd_of(sock), reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
}

bool allow_broadcast(udp_socket &sock) {
    int on = 1;
    return ::setsockopt(fd_of(sock), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0;
}

void request_receive_buffer(udp_socket &sock, int bytes) {
    // Linux caps the request at net.core.rmem_max (and doubles it for its
    // bookkeeping); the cap is what an unprivileged caller gets.
    (void)::setsockopt(fd_of(sock), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

// poll needs nothing beyond the descriptor; every receive is MSG_DONTWAIT.
bool prepare_waiting(udp_socket &) { return true; }

bool wait_readable(udp_socket &sock, int timeout_ms) {
    // A signal handled by the host (a child's exit, a timer) interrupts the
    // poll; wait again for the time that is left rather than give up early.
    const int64_t deadline = now_ms() + timeout_ms;
    for (;;) {
        pollfd pfd{fd_of(sock), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, timeout_ms);
        if (ready >= 0 || errno != EINTR) return ready == 1 && (pfd.revents & POLLIN) != 0;
        const int64_t left = deadline - now_ms();
        if (left <= 0) return false;
        timeout_ms = static_cast<int>(left);
    }
}

void send_to(udp_socket &sock, ipv4_net address, uint16_t port, const uint8_t *bytes,
             size_t length) {
    sockaddr_in sa = make_address(address, port);
    (void)::sendto(fd_of(sock), bytes, length, 0, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
}

int receive_from(udp_socket &sock, uint8_t *buffer, size_t capacity, ipv4_net &sender) {
    sockaddr_in from{};
    iovec iov{buffer, capacity};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    ssize_t n;
    do {
        n = ::recvmsg(fd_of(sock), &msg, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    // Winsock fails the receive of a datagram larger than the buffer
    // (WSAEMSGSIZE); do the same so both platforms agree.
    if (n < 0 || (msg.msg_flags & MSG_TRUNC) != 0) return -1;
    sender = from.sin_addr.s_addr;
    return static_cast<int>(n);
}

void close(udp_socket &sock) {
    if (sock.handle >= 0) ::close(fd_of(sock));
    sock.handle = -1;
}

int directed_broadcasts(ipv4_net *addresses, int capacity) {
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0) return 0;
    int stored = 0;
    for (const ifaddrs *i = list; i != nullptr && stored < capacity; i = i->ifa_next) {
        const unsigned wanted = IFF_UP | IFF_BROADCAST;
        if ((i->ifa_flags & wanted) != wanted || (i->ifa_flags & IFF_LOOPBACK) != 0) continue;
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        if (i->ifa_broadaddr == nullptr || i->ifa_broadaddr->sa_family != AF_INET) continue;
        sockaddr_in broadcast{};
        std::memcpy(&broadcast, i->ifa_broadaddr, sizeof broadcast);
        const ipv4_net address = broadcast.sin_addr.s_addr;
        bool known = address == 0 || address == 0xFFFFFFFFu;
        for (int k = 0; k < stored && !known; ++k) known = addresses[k] == address;
        if (!known) addresses[stored++] = address;
    }
    ::freeifaddrs(list);
    return stored;
}

void sleep_ms(int milliseconds) {
    timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

int64_t now_ms() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

ipv4_net parse_ipv4(const char *text) { return ::inet_addr(text); }

void format_ipv4(ipv4_net address, char (&text)[16]) {
    in_addr in{};
    in.s_addr = address;
    if (::inet_ntop(AF_INET, &in, text, sizeof text) == nullptr) text[0] = '\0';
}

}  // namespace kx::platform
