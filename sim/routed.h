// Subnets one router hop away from the caller's namespace, which must be a
// private one holding only loopback: a router namespace (forwarding on) and
// a namespace of devices behind it, both held by this object and gone with
// it. The machine's own network is never touched.
//
//   caller  kxrt0 192.0.2.1/24 --- 192.0.2.254 kxrt-up   router
//   router  kxrt-dn 198.51.100.1/30 --- 198.51.100.2 kxsub  devices
//
// The caller's default route leads to the router, and so does a route to
// each prefix; the router routes each prefix to the devices' namespace,
// where every address of it is local (the devices' LAN answers at the
// addresses it has devices for). A limited broadcast from the caller stops
// at the router; unicast crosses it both ways; a datagram to a prefix's
// broadcast address (10.2.0.255) crosses only with forward_directed. The
// router resolves one neighbour on each link, however many addresses are
// asked, so a sweep fills no neighbour table.
//
// The devices' LAN runs in this process (its thread in the devices'
// namespace), so its trace and devices are at hand as any LAN's.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "lan.h"

namespace kxsim {

struct routed_plan {
    // "10.2.0" for 10.2.0.0/24, or "10.2" for 10.2.0.0/16.
    std::vector<std::string> prefixes;
    // Whether the router forwards a datagram to a prefix's broadcast address.
    bool forward_directed = false;
};

class routed {
  public:
    // Throws when a prefix is not one, the caller's namespace holds more than
    // loopback, or a step fails.
    explicit routed(const routed_plan &plan);
    ~routed();
    routed(const routed &) = delete;
    routed &operator=(const routed &) = delete;

    // The devices' LAN: add devices at addresses of the prefixes.
    lan &devices() { return *devices_; }

    // Where the caller's side of the router link is.
    static constexpr const char *host_address = "192.0.2.1";

    // The prefix length of "10.2.0" (24) or "10.2" (16); 0 for anything else
    // (127, 0, multicast, the router links' own subnets included).
    static int prefix_length(const std::string &prefix);

  private:
    void build(const routed_plan &plan);
    void tear_down();

    int router_ = -1;  // the router's namespace
    int behind_ = -1;  // the devices' namespace
    std::unique_ptr<lan> devices_;
};

}  // namespace kxsim
