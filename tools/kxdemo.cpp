// kxdemo: a host's whole job on a small simulated LAN, printed step by step.
// It serves devices of both families in-process and works with them through
// the generic kx_ functions alone, never knowing a device's protocol: search
// (kx_discover), log in, read, change a setting, write it back, read again,
// change the baud rate, log out. Exits non-zero when any step fails.
// Runs inside a private network namespace (scripts/demo sees to that).
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "families.h"
#include "kxconf.h"
#include "lan.h"
#include "record_text.h"
#include "sim_devices.h"

namespace {

using kxtools::family_letter;
using kxtools::identifier_text;

using kxtools::field_text;

// One line per step: the call, its result code and what that means, and on
// success what the step showed.
bool report(const char *call, int32_t result, const std::string &detail = "") {
    const bool ok = result == KX_OK;
    std::printf("  %-26s -> %2d %s%s%s%s\n", call, result, result < 0 ? "FAILED: " : "",
                kx_result_text(result), ok && !detail.empty() ? ": " : "",
                ok ? detail.c_str() : "");
    return ok;
}

bool check(bool holds, const char *what) {
    if (!holds) std::printf("  %-26s    FAILED: %s\n", "", what);
    return holds;
}

void print_devices(const kx_device_record *records, int32_t count) {
    std::printf("  %-3s %-6s %-16s %-22s %-10s\n", "#", "family", "address", "identifier", "name");
    for (int32_t i = 0; i < count; ++i) {
        const kx_device_record &d = records[i];
        std::printf("  %-3d %-6s %-16s %-22s %-10s\n", i + 1, family_letter(d.family),
                    field_text(d.ip_address, sizeof d.ip_address).c_str(),
                    identifier_text(d.device_id).c_str(),
                    field_text(d.device_name, sizeof d.device_name).c_str());
    }
}

std::string summary(const kx_settings_record &s) {
    return "name " + field_text(s.device_name, sizeof s.device_name) + ", baud " +
           std::to_string(uint32_t{s.baud_rate}) + ", destination port " +
           std::to_string(uint16_t{s.dest_port});
}

// The whole cycle on one device, taking every argument from its search
// record. Stops at the first step that fails.
bool configure(const kx_device_record &device) {
    const char *ip = device.ip_address;
    const uint8_t *id = device.device_id;

    // The login record needs only the family and the password (none on the
    // simulated devices).
    kx_settings_record login;
    std::memset(&login, 0, sizeof login);
    login.family = device.family;
    if (!report("kx_login", kx_login(ip, id, &login), "password accepted")) return false;

    kx_settings_record settings;
    std::memset(&settings, 0, sizeof settings);
    int32_t result = kx_read_setting(ip, id, &settings, &device);
    if (!report("kx_read_setting", result, summary(settings))) return false;

    const uint16_t old_port = settings.dest_port;
    const uint16_t new_port = static_cast<uint16_t>(old_port + 101);
    settings.dest_port = new_port;
    std::printf("  %-26s    destination port %u -> %u in the settings record\n", "(change)",
                unsigned{old_port}, unsigned{new_port});
    if (!report("kx_write_setting", kx_write_setting(ip, id, &settings, &device),
                "settings written back"))
        return false;

    kx_settings_record again;
    std::memset(&again, 0, sizeof again);
    result = kx_read_setting(ip, id, &again, &device);
    if (!report("kx_read_setting", result,
                "destination port " + std::to_string(uint16_t{again.dest_port})))
        return false;
    if (!check(again.dest_port == new_port, "the change did not hold")) return false;
    if (!check(std::memcmp(&again, &settings, sizeof again) == 0,
               "another setting changed as well"))
        return false;
    std::printf("  %-26s    the change held, every other setting as before\n", "");

    if (!report("kx_setting_baud 115200", kx_setting_baud(ip, 115200, &device),
                "quick setting accepted"))
        return false;
    std::memset(&again, 0, sizeof again);
    result = kx_read_setting(ip, id, &again, &device);
    if (!report("kx_read_setting", result, "baud " + std::to_string(uint32_t{again.baud_rate})))
        return false;
    if (!check(again.baud_rate == 115200, "the baud rate did not change")) return false;

    return report("kx_logout", kx_logout(ip, id, &device), "conversation ended");
}

}  // namespace

int main() {
    try {
        kxsim::lan lan;
        std::printf("Simulated LAN in a private network namespace:\n");
        struct placed {
            const char *address;
            uint8_t family;
        };
        const placed devices[] = {{"127.0.0.2", KX_FAMILY_A},
                                  {"127.0.0.3", KX_FAMILY_B},
                                  {"127.0.0.4", KX_FAMILY_A},
                                  {"127.0.0.5", KX_FAMILY_B}};
        int index = 0;
        for (const placed &p : devices) {
            if (!kxsim::add_default_device(lan, p.family, p.address, ++index)) return 1;
            std::printf("  family %s device at %s\n", family_letter(p.family), p.address);
        }
        const int32_t expected = index;

        std::printf("\nSearch: both families at once, on every adapter\n");
        // kx_discover never lists more devices than the array holds.
        kx_device_record records[8];
        std::memset(records, 0, sizeof records);
        int32_t count = 0;
        const int32_t found = kx_discover(records, 8, &count, KX_SEARCH_ALL_INTERFACES);
        const bool searched =
            report("kx_discover", found, std::to_string(count) + " device(s) found");
        print_devices(records, count);
        bool all_ok = searched && check(count == expected, "not every device was found");

        int succeeded = 0;
        for (int32_t i = 0; i < count; ++i) {
            const kx_device_record &d = records[i];
            std::printf("\nDevice %d of %d: family %s at %s, identifier %s\n", i + 1, count,
                        family_letter(d.family),
                        field_text(d.ip_address, sizeof d.ip_address).c_str(),
                        identifier_text(d.device_id).c_str());
            if (configure(d))
                ++succeeded;
            else
                all_ok = false;
        }

        std::printf("\n%d of %d device(s) went through the whole cycle: %s\n", succeeded, count,
                    all_ok ? "success" : "FAILED");
        return all_ok ? 0 : 1;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "kxdemo: %s\n", e.what());
        return 1;
    }
}
