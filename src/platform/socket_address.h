// The IPv4 socket address both back ends send to and bind. Included after
// the back end's own socket headers, which declare sockaddr_in and htons
// alike on POSIX and Winsock.
#pragma once

#include "platform/platform.h"

namespace kx::platform {

inline sockaddr_in make_address(ipv4_net address, uint16_t port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    return sa;
}

}  // namespace kx::platform
