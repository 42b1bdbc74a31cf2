#include "adapters.h"

#ifdef _WIN32
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0600
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#endif

#include <cstring>

namespace kxtool {
namespace {

constexpr uint16_t library_port = 65281;

uint32_t host_order(const sockaddr *sa) {
    sockaddr_in in{};
    std::memcpy(&in, sa, sizeof in);
    return ntohl(in.sin_addr.s_addr);
}

#ifdef _WIN32
using socket_handle = SOCKET;
constexpr socket_handle no_socket = INVALID_SOCKET;
void close_socket(socket_handle s) { ::closesocket(s); }
int last_error() { return ::WSAGetLastError(); }
bool address_in_use(int error) { return error == WSAEADDRINUSE || error == WSAEACCES; }
std::string error_text(int error) {
    char text[256] = {};
    ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string out = text;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "Windows Sockets error " + std::to_string(error) : out;
}

// Winsock is started by the library on load; a start of our own keeps the
// count right for the sockets made here.
struct winsock {
    bool started = false;
    winsock() {
        WSADATA data;
        started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~winsock() {
        if (started) ::WSACleanup();
    }
};
#else
using socket_handle = int;
constexpr socket_handle no_socket = -1;
void close_socket(socket_handle s) { ::close(s); }
int last_error() { return errno; }
bool address_in_use(int error) { return error == EADDRINUSE; }
std::string error_text(int error) { return std::strerror(error); }
struct winsock {};
#endif

sockaddr_in ipv4(uint32_t address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    return sa;
}

}  // namespace

#ifdef _WIN32
std::vector<adapter> list_adapters(std::string &error) {
    [[maybe_unused]] winsock started;
    std::vector<unsigned char> buffer(64 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    auto *list = reinterpret_cast<IP_ADAPTER_ADDRESSES *>(buffer.data());
    if (::GetAdaptersAddresses(AF_INET, flags, nullptr, list, &size) != NO_ERROR) {
        error = "the adapter list is not available on this system";
        return {};
    }
    std::vector<adapter> out;
    for (const IP_ADAPTER_ADDRESSES *a = list; a != nullptr; a = a->Next) {
        char name[128] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, a->FriendlyName, -1, name, sizeof name - 1, nullptr,
                              nullptr);
        for (const IP_ADAPTER_UNICAST_ADDRESS *u = a->FirstUnicastAddress; u != nullptr;
             u = u->Next) {
            const sockaddr *sa = u->Address.lpSockaddr;
            if (sa == nullptr || sa->sa_family != AF_INET) continue;
            adapter one;
            one.name = name[0] != '\0' ? name : a->AdapterName;
            one.address = host_order(sa);
            const unsigned prefix = u->OnLinkPrefixLength;
            one.mask = prefix == 0 ? 0 : 0xFFFFFFFFu << (32 - (prefix > 32 ? 32 : prefix));
            one.up = a->OperStatus == IfOperStatusUp;
            one.loopback = a->IfType == IF_TYPE_SOFTWARE_LOOPBACK;
            // A /31 or /32 prefix has no broadcast address.
            if (!one.loopback && prefix <= 30) one.broadcast = one.address | ~one.mask;
            out.push_back(one);
        }
    }
    return out;
}

long receive_queue_cap() { return 0; }
#else
std::vector<adapter> list_adapters(std::string &error) {
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0) {
        error = "the adapter list is not available: " + error_text(errno);
        return {};
    }
    std::vector<adapter> out;
    for (const ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        adapter one;
        one.name = i->ifa_name;
        one.address = host_order(i->ifa_addr);
        if (i->ifa_netmask != nullptr) one.mask = host_order(i->ifa_netmask);
        one.up = (i->ifa_flags & IFF_UP) != 0;
        one.loopback = (i->ifa_flags & IFF_LOOPBACK) != 0;
        if ((i->ifa_flags & IFF_BROADCAST) != 0 && i->ifa_broadaddr != nullptr &&
            i->ifa_broadaddr->sa_family == AF_INET)
            one.broadcast = host_order(i->ifa_broadaddr);
        out.push_back(one);
    }
    ::freeifaddrs(list);
    return out;
}

long receive_queue_cap() {
    std::ifstream in("/proc/sys/net/core/rmem_max");
    long bytes = 0;
    return in >> bytes ? bytes : 0;
}
#endif

bool limited_broadcast_route(uint32_t &local, std::string &error) {
    [[maybe_unused]] winsock started;
    const socket_handle s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == no_socket) {
        error = error_text(last_error());
        return false;
    }
    int on = 1;
    (void)::setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char *>(&on), sizeof on);
    // Connecting a UDP socket only picks the route; nothing is sent.
    const sockaddr_in to = ipv4(0xFFFFFFFFu, 65535);
    sockaddr_in from{};
    socklen_t length = sizeof from;
    bool routed = ::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0;
    if (!routed) error = error_text(last_error());
    routed = routed && ::getsockname(s, reinterpret_cast<sockaddr *>(&from), &length) == 0;
    if (routed) local = ntohl(from.sin_addr.s_addr);
    close_socket(s);
    return routed;
}

port_state library_port_state(std::string &detail) {
    [[maybe_unused]] winsock started;
    const socket_handle s = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (s == no_socket) {
        detail = error_text(last_error());
        return port_state::unusable;
    }
    const sockaddr_in any = ipv4(0, library_port);
    const bool bound = ::bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any) == 0;
    const int error = bound ? 0 : last_error();
    close_socket(s);
    if (bound) return port_state::free;
    detail = error_text(error);
    return address_in_use(error) ? port_state::in_use : port_state::unusable;
}

}  // namespace kxtool
