// kxtool search: every device that answers, checked at the address it lists.
#include <fmt/core.h>

#include "core.h"

namespace kxtool {
namespace {

std::string nothing_answered() {
    uint32_t local = 0;
    std::string error;
    if (!limited_broadcast_route(local, error))
        return "no device answered the search: 255.255.255.255 has no route (" + error +
               "), so the search left by no adapter; kxtool doctor lists the adapters";
    return "no device answered the search (kxtool doctor checks the adapters, the port and the "
           "search on each)";
}

// What a search lists, checked at the address listed: whether the device
// answers there, the address it is configured with, and its firmware.
search_entry probe_device(const context &ctx, const kx_device_record &d) {
    search_entry p;
    p.record = d;
    const std::string listed = configured_address(d);
    kx_device_record answer{};
    p.answers = answers_at(ctx, listed, d, answer);
    p.configured = p.answers ? configured_address(answer) : listed;
    p.firmware = shown_text(d.firmware_version, sizeof d.firmware_version);
    if (p.answers && p.firmware.empty())
        p.firmware = shown_text(answer.firmware_version, sizeof answer.firmware_version);
    if (p.answers && p.firmware.empty()) {
        // A search answer without the firmware version (family A's): a read
        // has it, and needs no login.
        kx_settings_record settings{};
        const int32_t read = traced(ctx, "kx_read_setting " + listed, [&] {
            return kx_read_setting(listed.c_str(), d.device_id, &settings, &d);
        });
        if (read == KX_OK)
            p.firmware = shown_text(settings.firmware_version, sizeof settings.firmware_version);
    }
    if (!p.answers)
        p.note = "does not answer at this address (changed, not yet restarted?)";
    else if (p.configured != listed)
        p.note = "configured with " + p.configured;
    return p;
}

}  // namespace

search_report search_devices(const context &ctx) {
    search_report report;
    ctx.report({progress::step::search_started, 0, 0, {}, nullptr, 0});
    const search_result found = full_search(ctx);
    ctx.report({progress::step::search_done, 0, 0, {}, nullptr, found.devices.size()});
    ctx.watcher().search_finished(found.devices, found.listed() && !found.incomplete());
    report.incomplete = found.incomplete();
    if (!found.listed()) {
        report.code = exit_failed;
        report.problem = found.problem;
        return report;
    }
    if (found.devices.empty()) {
        report.problem = nothing_answered();
        report.code = found.incomplete() ? exit_incomplete : exit_not_found;
        return report;
    }
    for (const kx_device_record &d : found.devices) {
        if (!ctx.stopping()) {
            report.devices.push_back(probe_device(ctx, d));
            continue;
        }
        search_entry unchecked;
        unchecked.record = d;
        unchecked.configured = configured_address(d);
        unchecked.firmware = shown_text(d.firmware_version, sizeof d.firmware_version);
        unchecked.note = "interrupted: not checked at this address";
        report.devices.push_back(unchecked);
    }
    if (ctx.stopping()) {
        report.problem = "interrupted: the devices not checked are marked";
        report.code = exit_interrupted;
    } else if (found.incomplete()) {
        report.problem = found.problem;
        report.code = exit_incomplete;
    }
    return report;
}

}  // namespace kxtool
