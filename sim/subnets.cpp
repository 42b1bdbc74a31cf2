#include "subnets.h"

#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "netns.h"

namespace kxsim {

namespace {

constexpr const char *device_side_link = "kxsub";

bool run(const std::string &command) { return std::system(command.c_str()) == 0; }

void require(bool ok, const std::string &what) {
    if (!ok) throw std::runtime_error("subnet set-up failed: " + what);
}

}  // namespace

subnets::subnets(const std::vector<subnet_plan> &plans) {
    if (!in_private_namespace())
        throw std::runtime_error("subnets are built only inside a private network namespace");
    try {
        for (size_t i = 0; i < plans.size(); ++i) add(i, plans[i]);
        if (!plans.empty())
            require(run("ip route replace default dev " + members_.front().host_link + " src " +
                        plans.front().prefix + ".1"),
                    "default route");
    } catch (...) {
        remove_all();
        throw;
    }
}

subnets::~subnets() { remove_all(); }

void subnets::add(size_t index, const subnet_plan &plan) {
    members_.emplace_back();
    member &m = members_.back();
    m.host_link = "kxhost" + std::to_string(index);
    m.ns = netns::create();
    {
        // The LAN wants to be alone in its namespace when it starts, and its
        // thread stays there.
        netns::inside in(m.ns);
        m.devices = std::make_unique<lan>();
        plan.populate(*m.devices);
    }
    const std::string subnet = "subnet " + plan.prefix + ".0/24: ";
    const std::string link = "ip link add " + m.host_link + " type veth peer name " +
                             device_side_link + " netns " + netns::path(m.ns);
    require(run(link), subnet + link);
    const std::string address = "ip addr add " + plan.prefix + ".1/" +
                                std::to_string(plan.host_prefix) +
                                (plan.host_broadcast ? " brd + dev " : " dev ") + m.host_link;
    require(run(address), subnet + address);
    require(run("ip link set " + m.host_link + " up"), subnet + "ip link set up");
    netns::inside in(m.ns);
    for (const std::string &device : plan.addresses)
        require(run("ip addr add " + device + "/24 brd + dev " + device_side_link),
                subnet + "address " + device);
    require(run(std::string("ip link set ") + device_side_link + " up") &&
                run(std::string("ip route add default dev ") + device_side_link),
            subnet + "the devices' side");
}

void subnets::remove_all() {
    // Back to the namespace's own route: broadcasts stay on loopback.
    (void)run("ip route replace default dev lo src 127.0.0.1 2>/dev/null");
    for (member &m : members_) {
        // Both ends at once, before a later subnet takes the same name.
        (void)run("ip link del " + m.host_link + " 2>/dev/null");
        m.devices.reset();
        if (m.ns >= 0) ::close(m.ns);
    }
    members_.clear();
}

}  // namespace kxsim
