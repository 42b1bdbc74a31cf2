// Linux back end of the socket layer: poll for readiness, recvmsg and
// recvmmsg with MSG_DONTWAIT for the non-blocking receives, IP_PKTINFO to
// send a broadcast out of one adapter, SO_MEMINFO for the drop count.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/sock_diag.h>
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

int64_t dropped_datagrams(udp_socket &sock) {
    // The socket's own drop counter, read at any time. (SO_RXQ_OVFL reports
    // the same counter, but only on datagrams queued after the drops: drops
    // at the end of a burst would go unseen.)
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof info;
    if (::getsockopt(fd_of(sock), SOL_SOCKET, SO_MEMINFO, info, &length) != 0 ||
        length <= SK_MEMINFO_DROPS * sizeof info[0])
        return -1;
    return info[SK_MEMINFO_DROPS];
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
    if (n < 0) return -1;
    sender = from.sin_addr.s_addr;
    // Winsock fails the receive of a datagram larger than the buffer
    // (WSAEMSGSIZE); do the same so both platforms agree.
    return (msg.msg_flags & MSG_TRUNC) != 0 ? -1 : static_cast<int>(n);
}

void close(udp_socket &sock) {
    if (sock.handle >= 0) ::close(fd_of(sock));
    sock.handle = -1;
}

int receive_batch(udp_socket &sock, datagram_batch &batch) {
    constexpr int n = datagram_batch::capacity;
    mmsghdr messages[n] = {};
    iovec parts[n];
    sockaddr_in from[n];
    for (int i = 0; i < n; ++i) {
        parts[i] = {batch.bytes[i], datagram_batch::datagram_capacity};
        messages[i].msg_hdr.msg_name = &from[i];
        messages[i].msg_hdr.msg_namelen = sizeof from[i];
        messages[i].msg_hdr.msg_iov = &parts[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int received;
    do {
        received = ::recvmmsg(fd_of(sock), messages, n, MSG_DONTWAIT, nullptr);
    } while (received < 0 && errno == EINTR);
    batch.count = received > 0 ? received : 0;
    for (int i = 0; i < batch.count; ++i) {
        const bool whole = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) == 0;
        batch.lengths[i] = whole ? static_cast<int>(messages[i].msg_len) : -1;
        batch.senders[i] = from[i].sin_addr.s_addr;
    }
    return batch.count;
}

void list_adapters(adapter_list &list) {
    list.count = 0;
    list.complete = true;
    ifaddrs *all = nullptr;
    if (::getifaddrs(&all) != 0) {
        list.complete = false;
        return;
    }
    for (const ifaddrs *i = all; i != nullptr; i = i->ifa_next) {
        // A point-to-point link (no IFF_BROADCAST) carries a limited
        // broadcast out of it as well as any.
        if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_LOOPBACK) != 0) continue;
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        if (i->ifa_netmask == nullptr || i->ifa_netmask->sa_family != AF_INET) continue;
        // ifa_broadaddr is not used: an address added without an explicit
        // broadcast (iproute2's default) reports the host's own address there.
        sockaddr_in address{}, netmask{};
        std::memcpy(&address, i->ifa_addr, sizeof address);
        std::memcpy(&netmask, i->ifa_netmask, sizeof netmask);
        const unsigned index = ::if_nametoindex(i->ifa_name);
        if (index == 0) continue;  // gone since the list was made
        if (list.count == adapter_list::capacity) {
            list.complete = false;
            break;
        }
        list.entries[list.count++] = {index, address.sin_addr.s_addr, netmask.sin_addr.s_addr};
    }
    ::freeifaddrs(all);
}

void send_limited_broadcast(udp_socket &sock, const adapter &by, uint16_t port,
                            const uint8_t *bytes, size_t length) {
    sockaddr_in to = make_address(0xFFFFFFFFu, port);
    iovec part{const_cast<uint8_t *>(bytes), length};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr msg{};
    msg.msg_name = &to;
    msg.msg_namelen = sizeof to;
    msg.msg_iov = &part;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&msg);
    header->cmsg_level = IPPROTO_IP;
    header->cmsg_type = IP_PKTINFO;
    header->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_ifindex = static_cast<int>(by.index);
    info.ipi_spec_dst.s_addr = by.address;
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    (void)::sendmsg(fd_of(sock), &msg, 0);
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
    // inet_ntop's form, written directly: a search formats six addresses per
    // answer, and the C library's formatting costs most of an answer's time.
    uint8_t octets[4];
    std::memcpy(octets, &address, sizeof octets);
    size_t at = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (i > 0) text[at++] = '.';
        const unsigned value = octets[i];
        if (value >= 100) text[at++] = static_cast<char>('0' + value / 100);
        if (value >= 10) text[at++] = static_cast<char>('0' + value / 10 % 10);
        text[at++] = static_cast<char>('0' + value % 10);
    }
    text[at] = '\0';
}

}  // namespace kx::platform
