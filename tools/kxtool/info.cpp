// kxtool fields and kxtool doctor: what the settings mean, and what stands
// between this host and its devices.
#include <fmt/core.h>

#include <algorithm>
#include <map>

#include "adapters.h"
#include "commands.h"
#include "device.h"

namespace kxtool {
namespace {

// What a field takes on one family, in words.
std::string takes(const field &f, const family_traits &family) {
    const range r = range_of(family, f);
    switch (f.type) {
        case kind::family:
            return std::to_string(family.code) + " (read-only)";
        case kind::identifier:
            return "six numbers 0 to 255 joined by dots (read-only)";
        case kind::address:
            return "a dotted IPv4 address";
        case kind::baud:
            return speeds_text(family);
        case kind::text:
            return fmt::format("text of at most {} characters{}", r.max,
                               f.writable ? "" : " (read-only)");
        case kind::number:
            break;
    }
    if (r.min > r.max) return "not carried";
    std::string text =
        r.min == r.max ? std::to_string(r.min) + " only" : fmt::format("{} to {}", r.min, r.max);
    const std::string words = words_text(f, family);
    return words.empty() ? text : text + ": " + words;
}

std::string subnet_text(const adapter &a) {
    int bits = 0;
    for (uint32_t m = a.mask; m & 0x80000000u; m <<= 1) ++bits;
    return address_text(a.address & a.mask) + "/" + std::to_string(bits);
}

}  // namespace

int fields_command(const options &o) {
    for (const field &f : settings_fields()) {
        std::string notes;
        if (f.identity) notes += "; identity: a clone leaves it alone unless named with --set";
        if (f.secret) notes += "; never shown in a table, left out of save unless --with-password";
        fmt::print("{}{}\n    {}{}\n", f.name, *f.unit ? std::string(" (") + f.unit + ")" : "",
                   f.meaning, notes);
        for (const family_traits &family : kxtools::families)
            if (o.family == nullptr || o.family == &family)
                fmt::print("    family {}: {}\n", family.letter, takes(f, family));
    }
    return exit_ok;
}

int doctor_command(const options &) {
    bool problem = false;
    std::string error;
    const std::vector<adapter> adapters = list_adapters(error);
    fmt::print("IPv4 adapters:\n");
    if (!error.empty()) fmt::print("  {}\n", error);
    for (const adapter &a : adapters)
        fmt::print("  {:<12} {:<15} mask {:<15} broadcast {:<15} {}{}\n", a.name,
                   address_text(a.address), address_text(a.mask),
                   a.broadcast != 0 ? address_text(a.broadcast) : "-", a.up ? "up" : "down",
                   a.loopback ? ", loopback" : "");

    uint32_t local = 0;
    if (limited_broadcast_route(local, error)) {
        std::string by = "the adapter with " + address_text(local);
        for (const adapter &a : adapters)
            if (a.address == local) by = a.name + " (" + address_text(local) + ")";
        fmt::print(
            "255.255.255.255 leaves by: {}; the search also goes to every adapter's own "
            "broadcast address\n",
            by);
    } else {
        problem = true;
        fmt::print(
            "255.255.255.255 has no route ({}): only the adapters' own broadcast "
            "addresses reach devices\n",
            error);
    }

    std::string detail;
    switch (library_port_state(detail)) {
        case port_state::free:
            fmt::print("local UDP port 65281: free\n");
            break;
        case port_state::in_use:
            problem = true;
            fmt::print(
                "local UDP port 65281: in use by another program; no operation can run "
                "until it ends\n");
            break;
        case port_state::unusable:
            problem = true;
            fmt::print("local UDP port 65281: cannot be bound ({})\n", detail);
            break;
    }

    constexpr long search_queue = 4L * 1024 * 1024;
    const long cap = receive_queue_cap();
    if (cap == 0)
        fmt::print("receive queue: no cap to read; Windows grants the 4 MiB a search asks for\n");
    else if (cap >= search_queue)
        fmt::print(
            "receive queue: capped at {} bytes (net.core.rmem_max); a search gets the "
            "4 MiB it asks for\n",
            cap);
    else
        fmt::print(
            "receive queue: capped at {} bytes (net.core.rmem_max), below the 4 MiB a "
            "search asks for: with hundreds of devices answering at once some answers "
            "are dropped; raise it with sysctl -w net.core.rmem_max=4194304\n",
            cap);

    const search_result found = full_search();
    if (!found.listed()) {
        fmt::print("search: {}\n", found.problem);
        return exit_failed;
    }
    // One search on every adapter; each device counted on the adapter whose
    // subnet holds its address.
    std::map<std::string, int> per_adapter;
    int elsewhere = 0;
    for (const kx_device_record &d : found.devices) {
        uint32_t address = 0;
        const adapter *on = nullptr;
        if (address_value(configured_address(d), address))
            for (const adapter &a : adapters)
                if (a.up && a.holds(address) && on == nullptr) on = &a;
        if (on != nullptr)
            ++per_adapter[on->name + " " + subnet_text(*on)];
        else
            ++elsewhere;
    }
    fmt::print("search: {} device(s) answered\n", found.devices.size());
    std::vector<std::string> listed;
    for (const adapter &a : adapters) {
        const std::string key = a.name + " " + subnet_text(a);
        if (!a.up || std::find(listed.begin(), listed.end(), key) != listed.end()) continue;
        listed.push_back(key);
        fmt::print("  on {}: {}\n", key, per_adapter[key]);
    }
    if (elsewhere > 0)
        fmt::print(
            "  configured outside every adapter's subnet: {} (not reachable at their "
            "addresses)\n",
            elsewhere);
    if (found.incomplete()) {
        problem = true;
        fmt::print("  {}\n", found.problem);
    }
    if (found.devices.empty()) problem = true;
    return problem ? exit_failed : exit_ok;
}

}  // namespace kxtool
