// kxdemo: the host's main job on a small simulated LAN, printed step by step.
// It serves the simulated devices in-process and talks to them through the
// library's exported functions only, exactly as a host application would.
// Runs inside a private network namespace (scripts/demo sees to that).
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "kxconf.h"
#include "lan.h"
#include "sim_devices.h"

namespace {

const char *family_name(uint8_t family) {
    switch (family) {
        case KX_FAMILY_A: return "A";
        case KX_FAMILY_B: return "B";
        default: return "?";
    }
}

std::string id_text(const uint8_t (&id)[6]) {
    std::string text;
    for (int i = 0; i < 6; ++i) text += (i ? "." : "") + std::to_string(id[i]);
    return text;
}

std::string bounded(const char *field, size_t width) {
    return std::string(field, strnlen(field, width));
}

void print_devices(const kx_device_record *records, int32_t count) {
    std::printf("  %-3s %-6s %-16s %-24s %-10s %s\n", "#", "family", "address", "identifier",
                "name", "port");
    for (int32_t i = 0; i < count; ++i) {
        const kx_device_record &d = records[i];
        std::printf("  %-3d %-6s %-16s %-24s %-10s %u\n", i + 1, family_name(d.family),
                    bounded(d.ip_address, sizeof d.ip_address).c_str(), id_text(d.device_id).c_str(),
                    bounded(d.device_name, sizeof d.device_name).c_str(), d.local_port);
    }
}

}  // namespace

int main() {
    try {
        kxsim::lan lan;
        std::printf("Simulated LAN in a private network namespace:\n");
        const char *const a_devices[] = {"127.0.0.2", "127.0.0.3", "127.0.0.4"};
        int index = 0;
        for (const char *address : a_devices) {
            kxsim::add_default_device(lan, false, address, "", ++index);
            std::printf("  family A device at %s\n", address);
        }

        // The caller provides room for every device plus one record.
        kx_device_record records[8];
        std::memset(records, 0, sizeof records);
        int32_t count = 0;
        std::printf("\nkxa_search_all: broadcast \"X\" to 255.255.255.255:65535, collect until "
                    "300 ms of quiet\n");
        const int32_t result = kxa_search_all(records, &count);
        std::printf("  result %d, %d device(s) found\n", result, count);
        print_devices(records, count);
        return result == KX_OK && count == index ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kxdemo: %s\n", e.what());
        return 1;
    }
}
