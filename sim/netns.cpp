#include "netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace kxsim::netns {

int current() { return ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC); }

inside::inside(int ns) : back_(current()) {
    if (back_ < 0) throw std::runtime_error("network namespace: cannot hold the thread's own");
    if (::setns(ns, CLONE_NEWNET) != 0) {
        ::close(back_);
        throw std::runtime_error("network namespace: cannot enter");
    }
}

inside::~inside() {
    if (::setns(back_, CLONE_NEWNET) != 0) std::abort();  // never run on elsewhere
    ::close(back_);
}

int create() {
    const int back = current();
    if (back < 0) throw std::runtime_error("network namespace: cannot hold the thread's own");
    const bool made = ::unshare(CLONE_NEWNET) == 0;
    const int ns = made ? current() : -1;
    if (made && ::setns(back, CLONE_NEWNET) != 0) std::abort();
    ::close(back);
    if (ns < 0) throw std::runtime_error("network namespace: cannot create one");
    inside in(ns);
    if (std::system("ip link set lo up") != 0) {
        ::close(ns);
        throw std::runtime_error("network namespace: ip link set lo up failed");
    }
    return ns;
}

std::string path(int ns) {
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(ns);
}

}  // namespace kxsim::netns
