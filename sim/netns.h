// Network namespaces held by descriptor, entered by the calling thread only.
// The simulator builds its subnets and routers this way, inside one process:
// a forked child of a threaded process may inherit a lock held by another
// thread (the allocator's, under a sanitizer) and hang.
#pragma once

#include <string>

namespace kxsim::netns {

// A descriptor of the calling thread's network namespace (-1 on failure).
int current();

// A new network namespace with only loopback (up), held by the descriptor
// returned; the calling thread stays where it was. Throws on failure.
int create();

// What ip(8) takes as the namespace of a descriptor of this process.
std::string path(int ns);

// The calling thread in another network namespace for the life of this
// object; the commands it runs and the threads it starts are there too.
class inside {
  public:
    explicit inside(int ns);
    ~inside();
    inside(const inside &) = delete;
    inside &operator=(const inside &) = delete;

  private:
    int back_;
};

}  // namespace kxsim::netns
