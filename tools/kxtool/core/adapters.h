// What the system says about its own network, for kxtool doctor and for
// --interface: the IPv4 adapters, the adapter the limited broadcast leaves
// by, whether the library's local port is free, and the cap on a socket's
// receive queue. Nothing here sends a datagram.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kxtool {

struct adapter {
    std::string name;
    uint32_t address = 0;  // first part in the high byte
    uint32_t mask = 0;
    uint32_t broadcast = 0;  // 0: none (loopback, point to point)
    bool up = false;
    bool loopback = false;

    bool holds(uint32_t other) const { return (other & mask) == (address & mask); }
};

// Every IPv4 address of every adapter; empty, and error set, when the system
// cannot list them.
std::vector<adapter> list_adapters(std::string &error);

// The local address that a datagram to 255.255.255.255 leaves from (found
// by connecting a UDP socket, which sends nothing); false and the system's
// reason when it has no route.
bool limited_broadcast_route(uint32_t &local, std::string &error);

// Local UDP port 65281, which every library operation binds.
enum class port_state { free, in_use, unusable };
port_state library_port_state(std::string &detail);

// The largest receive queue a socket may ask for, in bytes; 0 when the
// system sets no cap that a program can read.
long receive_queue_cap();

}  // namespace kxtool
