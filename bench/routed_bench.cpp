// Searches across a router (kxsim::routed): devices of both families one hop
// away, found by sweeping their subnet (kx_sweep) and by a directed
// broadcast (kx_discover_directed, the router forwarding it), never by a
// broadcast search from the same host (kx_discover). For each sweep: the
// devices found, the wall time, and the peak send rate: the most requests
// sent in any one second, timed where the library hands them to the system.
// Figures only, no assertions.
//
// Runs inside a private network namespace: scripts/bench.
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device_a.h"
#include "device_b.h"
#include "kxconf.h"
#include "routed.h"

namespace {

// When each request to a device port left, in microseconds.
std::vector<int64_t> send_times;
bool recording = false;

int64_t now_us() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

}  // namespace

// Stands in for the C library's sendto in this program (the library is
// linked into it statically): notes the time of every datagram to a device
// port (65535, 65280), which only the library sends.
extern "C" ssize_t sendto(int fd, const void *bytes, size_t length, int flags, const sockaddr *to,
                          socklen_t to_length) {
    if (recording && to != nullptr && to->sa_family == AF_INET) {
        const auto *address = reinterpret_cast<const sockaddr_in *>(to);
        const uint16_t port = ntohs(address->sin_port);
        if (port == 65535 || port == 65280) send_times.push_back(now_us());
    }
    return ::syscall(SYS_sendto, fd, bytes, length, flags, to, to_length);
}

namespace {

// The most sends in any window of one second.
size_t peak_per_second(const std::vector<int64_t> &times) {
    size_t peak = 0;
    for (size_t first = 0, last = 0; last < times.size(); ++last) {
        while (times[last] - times[first] >= 1000000) ++first;
        peak = std::max(peak, last - first + 1);
    }
    return peak;
}

// Devices of both families, alternating, at addresses of the prefix.
void add_devices(kxsim::lan &lan, int count, bool slash16) {
    for (int i = 0; i < count; ++i) {
        // /24: 10.2.0.2 on; /16: spread over 10.3.0.0/16, .2 to .251 of
        // each block.
        const std::string address =
            slash16 ? "10.3." + std::to_string(i * 251 % 256) + "." + std::to_string(i % 250 + 2)
                    : "10.2.0." + std::to_string(i + 2);
        const uint8_t hi = static_cast<uint8_t>(i / 256), lo = static_cast<uint8_t>(i % 256);
        if (i % 2 == 0)
            lan.add<kxsim::device_a>(
                address, "0.16.2." + std::to_string(hi) + "." + std::to_string(lo) + ".1");
        else
            lan.add<kxsim::device_b>(address, kxsim::device_id_bytes{0, 16, 11, 0, hi, lo});
    }
}

struct figures {
    int found_min = 1 << 30, found_max = -1, not_ok = 0;
    int64_t ms_min = INT64_MAX, ms_max = 0;
    size_t peak = 0;
    void add(int32_t result, int32_t found, int64_t ms, size_t peak_now) {
        found_min = std::min(found_min, static_cast<int>(found));
        found_max = std::max(found_max, static_cast<int>(found));
        ms_min = std::min(ms_min, ms);
        ms_max = std::max(ms_max, ms);
        peak = std::max(peak, peak_now);
        if (result != KX_OK) ++not_ok;
    }
};

template <typename Search>
figures measure(int repetitions, int present, Search &&search) {
    figures f;
    std::vector<kx_device_record> records(static_cast<size_t>(present) + 16);
    for (int rep = 0; rep < repetitions; ++rep) {
        send_times.clear();
        recording = true;
        int32_t count = 0;
        const auto start = std::chrono::steady_clock::now();
        const int32_t result = search(records, count);
        const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
        recording = false;
        f.add(result, count, ms, peak_per_second(send_times));
    }
    return f;
}

void print(const char *what, int repetitions, int present, const figures &f, bool rate) {
    std::printf("%-38s %2dx  found min %4d max %4d of %4d  %6lld..%6lld ms  not KX_OK %d", what,
                repetitions, f.found_min, f.found_max, present, static_cast<long long>(f.ms_min),
                static_cast<long long>(f.ms_max), f.not_ok);
    if (rate) std::printf("  peak %zu/s of %u", f.peak, KX_SWEEP_DEFAULT_RATE);
    std::printf("\n");
    std::fflush(stdout);
}

void bed(bool slash16, int devices, int repetitions) {
    kxsim::routed router({{slash16 ? "10.3" : "10.2.0"}, true});
    add_devices(router.devices(), devices, slash16);
    const kx_address_range hosts = slash16 ? kx_address_range{0x0A030001u, 0x0A03FFFEu}
                                           : kx_address_range{0x0A020001u, 0x0A0200FEu};
    const char *name = slash16 ? "/16" : "/24";
    const auto sweep = [&](std::vector<kx_device_record> &r, int32_t &n) {
        return kx_sweep(r.data(), static_cast<int32_t>(r.size()), &n, &hosts, 1, 0, nullptr,
                        nullptr);
    };
    print((std::string("kx_sweep ") + name + " (" + std::to_string(hosts.last - hosts.first + 1) +
           " addresses)")
              .c_str(),
          repetitions, devices, measure(repetitions, devices, sweep), true);
    const uint32_t broadcast = hosts.last + 1;
    const auto directed = [&](std::vector<kx_device_record> &r, int32_t &n) {
        return kx_discover_directed(r.data(), static_cast<int32_t>(r.size()), &n, &broadcast, 1);
    };
    print((std::string("kx_discover_directed ") + name + ", forwarded").c_str(), repetitions,
          devices, measure(repetitions, devices, directed), false);
    const auto broadcast_search = [&](std::vector<kx_device_record> &r, int32_t &n) {
        return kx_discover(r.data(), static_cast<int32_t>(r.size()), &n, KX_SEARCH_ALL_INTERFACES);
    };
    print("kx_discover, every adapter (finds none)", 1, devices,
          measure(1, devices, broadcast_search), false);
}

}  // namespace

// Arguments: the repetitions of the /24 and of the /16 measurements
// (default 10 and 3).
int main(int argc, char **argv) {
    if (!kxsim::in_private_namespace()) {
        std::fprintf(stderr, "routed_bench runs only in a private network namespace\n");
        return 2;
    }
    const int small = argc > 1 ? std::atoi(argv[1]) : 10;
    const int large = argc > 2 ? std::atoi(argv[2]) : 3;
    send_times.reserve(1 << 18);
    std::printf("50 devices (25 of each family) in 10.2.0.0/24, one router hop away\n");
    bed(false, 50, small);
    std::printf("200 devices (100 of each family) in 10.3.0.0/16, one router hop away\n");
    bed(true, 200, large);
    return 0;
}
