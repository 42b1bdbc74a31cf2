#include "subnets.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace kxsim {

namespace {

constexpr const char *device_side_link = "kxsub";

bool run(const std::string &command) { return std::system(command.c_str()) == 0; }

void require(bool ok, const std::string &what) {
    if (!ok) throw std::runtime_error("subnet set-up failed: " + what);
}

char read_byte(int fd) {
    char c = 0;
    return ::read(fd, &c, 1) == 1 ? c : '\0';
}

// The child: a namespace of its own with a simulated LAN, configured once the
// parent has moved the device side of the veth pair into it; it lives until
// the parent closes its pipe.
[[noreturn]] void run_subnet(const subnet_plan &plan, int from_parent, int to_parent) {
    try {
        if (::unshare(CLONE_NEWNET) != 0 || !run("ip link set lo up")) ::_exit(1);
        lan devices;  // checks that the new namespace holds only loopback
        plan.populate(devices);
        if (::write(to_parent, "r", 1) != 1 || read_byte(from_parent) != 'g') ::_exit(1);
        for (const std::string &address : plan.addresses)
            if (!run("ip addr add " + address + "/24 brd + dev " + device_side_link)) ::_exit(1);
        if (!run(std::string("ip link set ") + device_side_link + " up") ||
            !run(std::string("ip route add default dev ") + device_side_link))
            ::_exit(1);
        if (::write(to_parent, "c", 1) != 1) ::_exit(1);
        while (read_byte(from_parent) != '\0') {
        }
    } catch (...) {
        ::_exit(1);
    }
    ::_exit(0);
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
    int down[2], up[2];
    require(::pipe2(down, O_CLOEXEC) == 0 && ::pipe2(up, O_CLOEXEC) == 0, "pipe");
    const pid_t pid = ::fork();
    require(pid >= 0, "fork");
    if (pid == 0) {
        // Only the parent may hold the earlier subnets' pipes: closing them
        // is what ends those subnets.
        for (const member &earlier : members_) ::close(earlier.to_child);
        ::close(down[1]);
        ::close(up[0]);
        run_subnet(plan, down[0], up[1]);
    }
    ::close(down[0]);
    ::close(up[1]);
    member m;
    m.pid = pid;
    m.to_child = down[1];
    m.host_link = "kxhost" + std::to_string(index);
    members_.push_back(m);
    const int from_child = up[0];
    const bool ready = read_byte(from_child) == 'r';
    bool linked = ready &&
                  run("ip link add " + m.host_link + " type veth peer name " + device_side_link +
                      " netns " + std::to_string(pid)) &&
                  run("ip addr add " + plan.prefix + ".1/" + std::to_string(plan.host_prefix) +
                      (plan.host_broadcast ? " brd + dev " : " dev ") + m.host_link) &&
                  run("ip link set " + m.host_link + " up");
    linked = linked && ::write(m.to_child, "g", 1) == 1 && read_byte(from_child) == 'c';
    ::close(from_child);
    require(linked, "subnet " + plan.prefix + ".0/24");
}

void subnets::remove_all() {
    // Back to the namespace's own route: broadcasts stay on loopback.
    (void)run("ip route replace default dev lo src 127.0.0.1 2>/dev/null");
    for (member &m : members_) {
        ::close(m.to_child);
        int status = 0;
        ::waitpid(m.pid, &status, 0);
        // Gone with the subnet's namespace already; removed here in case.
        (void)run("ip link del " + m.host_link + " 2>/dev/null");
    }
    members_.clear();
}

}  // namespace kxsim
