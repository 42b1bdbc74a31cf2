// kxsim: serves a simulated LAN of device servers until it is stopped, for
// the demo and for hosts in other processes (Wine runs). Must run inside a
// private network namespace (scripts/netns-run).
//
//   kxsim [--trace] --family-a 127.0.0.2[=0.16.2.3.4.5] --family-b 127.0.0.3[=1.2.3.4.5.6] ...
//
// Prints "ready" once every socket is bound; stops on SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "device_a.h"
#include "lan.h"
#include "sim_devices.h"

namespace {

volatile std::sig_atomic_t stop_requested = 0;
void request_stop(int) { stop_requested = 1; }

int usage() {
    std::fprintf(stderr,
                 "usage: kxsim [--trace] [--family-a ADDRESS[=ID_TEXT]]... "
                 "[--family-b ADDRESS[=ID_TEXT]]...\n");
    return 2;
}

void print_datagram(const kxsim::datagram &d) {
    std::printf("%6lld ms  %s:%u -> %s:%u  %zu bytes  ", static_cast<long long>(d.time_ms),
                d.source.c_str(), d.source_port, d.destination.c_str(), d.destination_port,
                d.payload.size());
    for (uint8_t b : d.payload) std::putchar(b >= 32 && b < 127 ? b : '.');
    std::putchar('\n');
}

}  // namespace

int main(int argc, char **argv) {
    bool trace = false;
    struct wanted {
        bool family_b;
        std::string address, id;
    };
    std::vector<wanted> devices;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--trace") {
            trace = true;
        } else if ((arg == "--family-a" || arg == "--family-b") && i + 1 < argc) {
            std::string device = argv[++i];
            const auto eq = device.find('=');
            wanted w{arg == "--family-b", device.substr(0, eq),
                     eq == std::string::npos ? std::string() : device.substr(eq + 1)};
            devices.push_back(w);
        } else {
            return usage();
        }
    }
    if (devices.empty()) return usage();
    if (!kxsim::in_private_namespace()) {
        std::fprintf(stderr, "kxsim: refusing to run outside a private network namespace\n");
        return 2;
    }
    std::signal(SIGINT, request_stop);
    std::signal(SIGTERM, request_stop);
    try {
        kxsim::lan lan;
        int n = 0;
        for (const auto &w : devices) {
            ++n;
            if (!kxsim::add_default_device(lan, w.family_b, w.address, w.id, n)) {
                std::fprintf(stderr, "kxsim: cannot simulate %s\n", w.address.c_str());
                return 2;
            }
        }
        std::printf("ready\n");
        std::fflush(stdout);
        size_t shown = 0;
        while (!stop_requested) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!trace) continue;
            auto all = lan.received();
            for (; shown < all.size(); ++shown) print_datagram(all[shown]);
            std::fflush(stdout);
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kxsim: %s\n", e.what());
        return 1;
    }
    return 0;
}
