// kxtool doctor: what stands between this host and its devices.
#include <algorithm>
#include <map>

#include "core.h"

namespace kxtool {
namespace {

std::string subnet_text(const adapter &a) {
    int bits = 0;
    for (uint32_t m = a.mask; m & 0x80000000u; m <<= 1) ++bits;
    return address_text(a.address & a.mask) + "/" + std::to_string(bits);
}

}  // namespace

doctor_report diagnose(const context &ctx) {
    doctor_report report;
    report.adapters = list_adapters(report.adapter_error);
    uint32_t local = 0;
    report.routed = limited_broadcast_route(local, report.route_error);
    if (report.routed) {
        report.route_by = "the adapter with " + address_text(local);
        for (const adapter &a : report.adapters)
            if (a.address == local) report.route_by = a.name + " (" + address_text(local) + ")";
    } else {
        report.problem = true;
    }
    report.port = library_port_state(report.port_detail);
    if (report.port != port_state::free) report.problem = true;
    report.queue_cap = receive_queue_cap();

    const search_result found = full_search(ctx);
    report.listed = found.listed();
    if (!found.listed()) {
        report.search_problem = found.problem;
        report.problem = true;
        return report;
    }
    // One search on every adapter; each device counted on the adapter whose
    // subnet holds its address.
    std::map<std::string, int> per_adapter;
    for (const kx_device_record &d : found.devices) {
        uint32_t address = 0;
        const adapter *on = nullptr;
        if (address_value(configured_address(d), address))
            for (const adapter &a : report.adapters)
                if (a.up && a.holds(address) && on == nullptr) on = &a;
        if (on != nullptr)
            ++per_adapter[on->name + " " + subnet_text(*on)];
        else
            ++report.elsewhere;
    }
    report.found = found.devices.size();
    for (const adapter &a : report.adapters) {
        const std::string key = a.name + " " + subnet_text(a);
        const bool listed = std::any_of(report.per_adapter.begin(), report.per_adapter.end(),
                                        [&](const auto &entry) { return entry.first == key; });
        if (a.up && !listed) report.per_adapter.emplace_back(key, per_adapter[key]);
    }
    report.shared = shared_addresses(found);
    if (!report.shared.empty()) report.problem = true;
    if (found.incomplete()) {
        report.problem = true;
        report.incomplete = true;
        report.search_problem = found.problem;
    }
    if (found.devices.empty()) report.problem = true;
    return report;
}

}  // namespace kxtool
