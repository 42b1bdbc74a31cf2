#include "routed.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "netns.h"

namespace kxsim {

namespace {

using netns::inside;

constexpr const char *host_link = "kxrt0";
constexpr const char *router_up = "kxrt-up";    // the router's side towards the caller
constexpr const char *router_down = "kxrt-dn";  // the router's side towards the devices
constexpr const char *devices_link = "kxsub";   // the devices' side
constexpr const char *router_up_address = "192.0.2.254";
constexpr const char *router_down_address = "198.51.100.1";
constexpr const char *devices_address = "198.51.100.2";

void require(bool ok, const std::string &what) {
    if (!ok) throw std::runtime_error("routed subnet set-up failed: " + what);
}

void run(const std::string &command) { require(std::system(command.c_str()) == 0, command); }

std::string sysctl(const std::string &key, int value) {
    return "echo " + std::to_string(value) + " > /proc/sys/net/ipv4/" + key;
}

struct subnet {
    uint32_t network;  // host order
    int length;
    std::string text(uint32_t offset) const {
        in_addr a{htonl(network + offset)};
        char dotted[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &a, dotted, sizeof dotted);
        return dotted;
    }
    std::string cidr() const { return text(0) + "/" + std::to_string(length); }
};

subnet subnet_of(const std::string &prefix) {
    const int length = routed::prefix_length(prefix);
    if (length == 0) throw std::invalid_argument("not a prefix of a routed subnet: " + prefix);
    in_addr a{};
    inet_pton(AF_INET, (prefix + (length == 24 ? ".0" : ".0.0")).c_str(), &a);
    return {ntohl(a.s_addr), length};
}

}  // namespace

int routed::prefix_length(const std::string &prefix) {
    int parts = 1;
    for (char c : prefix) {
        if (c == '.')
            ++parts;
        else if (c < '0' || c > '9')
            return 0;
    }
    if (parts != 2 && parts != 3) return 0;
    in_addr a{};
    if (inet_pton(AF_INET, (prefix + (parts == 3 ? ".0" : ".0.0")).c_str(), &a) != 1) return 0;
    const uint32_t network = ntohl(a.s_addr);
    const uint32_t first = network >> 24;
    if (first == 0 || first == 127 || first >= 224) return 0;
    // The router links' own subnets, 192.0.2.0/24 and 198.51.100.0/30.
    const int length = parts == 3 ? 24 : 16;
    const uint32_t mask = 0xFFFFFFFFu << (32 - length);
    if ((0xC0000200u & mask) == network || (0xC6336400u & mask) == network) return 0;
    return length;
}

routed::routed(const routed_plan &plan) {
    if (!in_private_namespace())
        throw std::runtime_error(
            "routed subnets are built only inside a private network namespace");
    try {
        build(plan);
    } catch (...) {
        tear_down();
        throw;
    }
}

routed::~routed() { tear_down(); }

void routed::build(const routed_plan &plan) {
    std::vector<subnet> subnets;
    for (const std::string &prefix : plan.prefixes) subnets.push_back(subnet_of(prefix));
    require(!subnets.empty(), "no prefix");
    for (const subnet &s : subnets)
        if (s.length != subnets.front().length)
            throw std::invalid_argument("routed prefixes must all be /24 or all /16");

    router_ = netns::create();
    behind_ = netns::create();
    {
        // The LAN wants to be alone in its namespace when it starts, and its
        // thread stays there.
        inside in(behind_);
        devices_ = std::make_unique<lan>(subnets.front().length);
    }
    {
        inside in(router_);
        run(sysctl("ip_forward", 1));
        for (const char *conf : {"all", "default"}) {
            run(sysctl(std::string("conf/") + conf + "/rp_filter", 0));
            run(sysctl(std::string("conf/") + conf + "/bc_forwarding", plan.forward_directed));
        }
    }
    run(std::string("ip link add ") + host_link + " type veth peer name " + router_up + " netns " +
        netns::path(router_));
    run(std::string("ip addr add ") + host_address + "/24 brd + dev " + host_link);
    run(std::string("ip link set ") + host_link + " up");
    {
        inside in(router_);
        run(std::string("ip link add ") + router_down + " type veth peer name " + devices_link +
            " netns " + netns::path(behind_));
        run(std::string("ip addr add ") + router_up_address + "/24 brd + dev " + router_up);
        run(std::string("ip addr add ") + router_down_address + "/30 dev " + router_down);
        for (const char *link : {router_up, router_down}) {
            run(std::string("ip link set ") + link + " up");
            run(sysctl(std::string("conf/") + link + "/rp_filter", 0));
        }
        // A directed broadcast is forwarded (or not) by the setting of the
        // link it comes in by.
        run(sysctl(std::string("conf/") + router_up + "/bc_forwarding", plan.forward_directed));
        for (const subnet &s : subnets) {
            // The router's own address on each subnet, without a route of its
            // own, makes the subnet's broadcast address one to it; the subnet
            // itself lies behind the devices' side as one next hop.
            run("ip addr add " + s.text(1) + "/" + std::to_string(s.length) + " brd + dev " +
                router_down + " noprefixroute");
            run("ip route add " + s.cidr() + " via " + devices_address + " dev " + router_down);
        }
    }
    {
        inside in(behind_);
        run(std::string("ip addr add ") + devices_address + "/30 dev " + devices_link);
        run(std::string("ip link set ") + devices_link + " up");
        for (const char *conf : {"all", "default", devices_link})
            run(sysctl(std::string("conf/") + conf + "/rp_filter", 0));
        for (const subnet &s : subnets) run("ip route add local " + s.cidr() + " dev lo");
        run(std::string("ip route add default via ") + router_down_address);
    }
    for (const subnet &s : subnets)
        run("ip route add " + s.cidr() + " via " + router_up_address + " dev " + host_link);
    run(std::string("ip route replace default via ") + router_up_address + " dev " + host_link);
}

void routed::tear_down() {
    devices_.reset();
    // Back to the namespace's own route: broadcasts stay on loopback.
    (void)std::system("ip route replace default dev lo src 127.0.0.1 2>/dev/null");
    (void)std::system((std::string("ip link del ") + host_link + " 2>/dev/null").c_str());
    for (int *ns : {&router_, &behind_}) {
        if (*ns >= 0) ::close(*ns);
        *ns = -1;
    }
}

}  // namespace kxsim
