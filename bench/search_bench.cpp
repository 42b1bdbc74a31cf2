// Search completeness and time: N simulated devices (family A, family B or
// both) answer each broadcast at once, as fast as the simulator can send;
// every search function reports how many it found of those present to it,
// how long it took, and how often it said that answers may be missing
// (KX_INCOMPLETE). Figures only, no assertions.
//
// Runs inside a private network namespace: scripts/bench (which runs it once
// more with the receive queue clamped by bench/clamp_rcvbuf.c).
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "device_a.h"
#include "device_b.h"
#include "kxconf.h"
#include "lan.h"

namespace {

enum class mix { a, b, both };

const char *name_of(mix m) {
    switch (m) {
        case mix::a:
            return "A";
        case mix::b:
            return "B";
        case mix::both:
            return "mixed";
    }
    return "?";
}

// Device i lives at 127.1.<i/250>.<i%250 + 1>; identifiers carry i.
std::string address_of(int i) {
    return "127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
}

bool is_family_a(mix m, int i) { return m == mix::a || (m == mix::both && i % 2 == 0); }

// Datagrams the kernel dropped for a full receive queue, in this namespace.
long udp_receive_buffer_errors() {
    std::ifstream snmp("/proc/net/snmp");
    std::string header, values, line;
    while (std::getline(snmp, line))
        if (line.rfind("Udp:", 0) == 0) {
            if (header.empty())
                header = line;
            else
                values = line;
        }
    std::istringstream names(header), numbers(values);
    std::string name, number;
    while (names >> name && numbers >> number)
        if (name == "RcvbufErrors") return std::stol(number);
    return -1;
}

struct search {
    const char *name;
    bool finds_a;
    bool finds_b;
    int32_t (*run)(std::vector<kx_device_record> &records, int32_t &count);
};

int32_t run_kxa(std::vector<kx_device_record> &r, int32_t &n) {
    return kxa_search_all(r.data(), &n);
}
int32_t run_kxb(std::vector<kx_device_record> &r, int32_t &n) {
    return kxb_search_all(r.data(), &n);
}
int32_t run_kx(std::vector<kx_device_record> &r, int32_t &n) { return kx_search_all(r.data(), &n); }
int32_t run_discover(std::vector<kx_device_record> &r, int32_t &n) {
    return kx_discover(r.data(), static_cast<int32_t>(r.size()), &n, 0);
}

const search searches[] = {
    {"kxa_search_all", true, false, run_kxa},
    {"kxb_search_all", false, true, run_kxb},
    {"kx_search_all", true, true, run_kx},
    {"kx_discover", true, true, run_discover},
};

// Real devices do not run on the host's processors. Where there are two or
// more, the simulator's thread gets the last one to itself and the searches
// the others: sharing one, the kernel's wake-up affinity parks the searching
// thread behind the simulator for a whole burst of answers, which says
// nothing about a host on a real network. --shared-cpu measures that too.
bool separate_simulator = true;

// The lan's thread inherits the affinity of the thread that creates it.
struct simulator_placement {
    cpu_set_t all{};
    bool separate = false;
    simulator_placement() {
        if (!separate_simulator || ::sched_getaffinity(0, sizeof all, &all) != 0 ||
            CPU_COUNT(&all) < 2)
            return;
        int last = CPU_SETSIZE - 1;
        while (!CPU_ISSET(last, &all)) --last;
        cpu_set_t simulator{};
        CPU_SET(last, &simulator);
        separate = ::sched_setaffinity(0, sizeof simulator, &simulator) == 0;
    }
    void searches_elsewhere() {
        if (!separate) return;
        cpu_set_t searcher = all;
        int last = CPU_SETSIZE - 1;
        while (!CPU_ISSET(last, &searcher)) --last;
        CPU_CLR(last, &searcher);
        ::sched_setaffinity(0, sizeof searcher, &searcher);
    }
    ~simulator_placement() {
        if (separate) ::sched_setaffinity(0, sizeof all, &all);
    }
};

void measure(mix m, int devices) {
    simulator_placement placement;
    kxsim::lan lan;
    placement.searches_elsewhere();
    int present_a = 0;
    for (int i = 0; i < devices; ++i) {
        if (is_family_a(m, i)) {
            ++present_a;
            lan.add<kxsim::device_a>(address_of(i), "0.16.2." + std::to_string(i / 256) + "." +
                                                        std::to_string(i % 256) + ".1");
        } else {
            lan.add<kxsim::device_b>(
                address_of(i), kxsim::device_id_bytes{0, 16, 11, 0, static_cast<uint8_t>(i / 256),
                                                      static_cast<uint8_t>(i % 256)});
        }
    }
    const int present_b = devices - present_a;
    const int repetitions = devices >= 1000 ? 10 : 1;
    for (const search &s : searches) {
        const int present = (s.finds_a ? present_a : 0) + (s.finds_b ? present_b : 0);
        if (present == 0) continue;
        // Room for every device plus the one record the old searches may use.
        std::vector<kx_device_record> records(static_cast<size_t>(devices) + 1);
        int min_found = devices + 1, max_found = -1, incomplete = 0, failed = 0, silent = 0;
        int64_t min_ms = INT64_MAX, max_ms = 0;
        const long drops_before = udp_receive_buffer_errors();
        for (int rep = 0; rep < repetitions; ++rep) {
            int32_t count = 0;
            const auto start = std::chrono::steady_clock::now();
            const int32_t result = s.run(records, count);
            const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            if (result == KX_INCOMPLETE) ++incomplete;
            if (result != KX_OK && result != KX_INCOMPLETE) ++failed;
            if (result == KX_OK && count < present) ++silent;  // a short list that says nothing
            min_found = std::min(min_found, static_cast<int>(count));
            max_found = std::max(max_found, static_cast<int>(count));
            min_ms = std::min(min_ms, ms);
            max_ms = std::max(max_ms, ms);
        }
        const long drops = udp_receive_buffer_errors() - drops_before;
        std::printf(
            "%-6s %5d  %-15s %2dx  found min %4d max %4d of %4d  %5lld..%5lld ms  "
            "queue drops %5ld  incomplete %2d  short with KX_OK %2d  failed %d\n",
            name_of(m), devices, s.name, repetitions, min_found, max_found, present,
            static_cast<long long>(min_ms), static_cast<long long>(max_ms), drops, incomplete,
            silent, failed);
        std::fflush(stdout);
    }
}

}  // namespace

// Arguments: --shared-cpu, then the numbers of devices to measure (default
// 1 10 100 1000).
int main(int argc, char **argv) {
    if (!kxsim::in_private_namespace()) {
        std::fprintf(stderr, "search_bench runs only in a private network namespace\n");
        return 2;
    }
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--shared-cpu") == 0)
            separate_simulator = false;
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) sizes = {1, 10, 100, 1000};
    // What a search's request for a 4 MiB queue is granted here.
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    int granted = 4 * 1024 * 1024;
    socklen_t length = sizeof granted;
    ::setsockopt(probe, SOL_SOCKET, SO_RCVBUF, &granted, sizeof granted);
    ::getsockopt(probe, SOL_SOCKET, SO_RCVBUF, &granted, &length);
    ::close(probe);
    std::printf("receive queue granted for a 4 MiB request: %d bytes; simulator %s\n", granted,
                separate_simulator ? "on a processor of its own" : "sharing the processors");
    for (mix m : {mix::a, mix::b, mix::both})
        for (int devices : sizes) measure(m, devices);
    return 0;
}
