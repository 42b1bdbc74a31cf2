// Further subnets for the simulated LAN: each is a network namespace of its
// own, created by the caller (which must already be in a private namespace
// holding only loopback), reached through a veth pair, with its own simulated
// devices (a LAN of this process whose thread lives in that namespace).
// Everything is created inside namespaces the test owns and removed with this
// object; the machine's own network is never touched.
//
// Subnet k (counting from 0) is <prefix>.0/24: the caller's side of the pair has <prefix>.1
// (with the plan's prefix length), the devices the addresses they are given, which may lie
// outside <prefix>.0/24 (a device with a factory address on that link): the devices' side routes
// everything onto the link, so such a device still answers the host. The default route of the
// caller's namespace leads into the first subnet, so the limited broadcast 255.255.255.255
// reaches only that one.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "lan.h"

namespace kxsim {

struct subnet_plan {
    std::string prefix;                   // "10.1.0"
    std::vector<std::string> addresses;   // the devices' addresses in it
    std::function<void(lan &)> populate;  // adds the devices, inside the subnet
    // False: the caller's address is added without a broadcast address, as
    // "ip addr add" does unless given "brd".
    bool host_broadcast = true;
    // The prefix length of the caller's address (31 or 32: a link without
    // a directed broadcast).
    int host_prefix = 24;
};

class subnets {
  public:
    // Throws when the namespace holds more than loopback or a step fails.
    explicit subnets(const std::vector<subnet_plan> &plans);
    ~subnets();
    subnets(const subnets &) = delete;
    subnets &operator=(const subnets &) = delete;

  private:
    struct member {
        int ns = -1;  // the subnet's namespace
        std::string host_link;
        std::unique_ptr<lan> devices;
    };
    void add(size_t index, const subnet_plan &plan);
    void remove_all();
    std::vector<member> members_;
};

}  // namespace kxsim
