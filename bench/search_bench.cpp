// Search completeness and time: N simulated devices (family A, family B or
// both) answer each broadcast at once, as fast as the simulator can send;
// every search function reports how many it found of those present to it and
// how long it took. Figures only, no assertions.
//
// Runs inside a private network namespace: scripts/bench.
#include <algorithm>
#include <chrono>
#include <cstdio>
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

void measure(mix m, int devices) {
    kxsim::lan lan;
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
        int min_found = devices + 1, max_found = -1;
        int64_t min_ms = INT64_MAX, max_ms = 0;
        const long drops_before = udp_receive_buffer_errors();
        for (int rep = 0; rep < repetitions; ++rep) {
            int32_t count = 0;
            const auto start = std::chrono::steady_clock::now();
            const int32_t result = s.run(records, count);
            const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - start)
                                   .count();
            if (result != KX_OK) count = -1;
            min_found = std::min(min_found, static_cast<int>(count));
            max_found = std::max(max_found, static_cast<int>(count));
            min_ms = std::min(min_ms, ms);
            max_ms = std::max(max_ms, ms);
        }
        const long drops = udp_receive_buffer_errors() - drops_before;
        std::printf(
            "%-6s %5d  %-15s %2dx  found min %4d max %4d of %4d  %5lld..%5lld ms  "
            "queue drops %ld\n",
            name_of(m), devices, s.name, repetitions, min_found, max_found, present,
            static_cast<long long>(min_ms), static_cast<long long>(max_ms), drops);
        std::fflush(stdout);
    }
}

}  // namespace

int main() {
    if (!kxsim::in_private_namespace()) {
        std::fprintf(stderr, "search_bench runs only in a private network namespace\n");
        return 2;
    }
    for (mix m : {mix::a, mix::b, mix::both})
        for (int devices : {1, 10, 100, 1000}) measure(m, devices);
    return 0;
}
