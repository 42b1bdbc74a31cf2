// kxtool search: every device that answers, checked at the address it lists.
#include <fmt/core.h>

#include <cstring>

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
// answers there as itself (the identity check; family A's search answer has
// no firmware version, so where a family's answer has none and its devices
// are read without a login, a read, which selects the device by its
// identifier, is the check and gives the firmware), the address it is
// configured with, and its firmware.
search_entry probe_device(const context &ctx, const search_result &found,
                          const kx_device_record &d) {
    search_entry p;
    p.record = d;
    const std::string listed = configured_address(d);
    p.configured = listed;
    p.firmware = shown_text(d.firmware_version, sizeof d.firmware_version);
    if (const auto others = found.sharing(d); !others.empty()) {
        // Whichever answers first would pass for the other.
        p.note = shared_address_text(d, others);
        return p;
    }
    if (!valid_device_address(listed)) {
        p.note = "configured with no address of its own; kxtool reaches it by its identifier";
        return p;
    }
    const family_traits *family = family_by_code(d.family);
    if (p.firmware.empty() && family != nullptr && family->reads_without_login) {
        kx_settings_record settings{};
        const int32_t read = traced(ctx, "kx_read_setting " + listed, [&] {
            return kx_read_setting(listed.c_str(), d.device_id, &settings, &d);
        });
        p.answers = read == KX_OK && settings.family == d.family &&
                    std::memcmp(settings.device_id, d.device_id, sizeof d.device_id) == 0;
        if (p.answers) {
            p.firmware = shown_text(settings.firmware_version, sizeof settings.firmware_version);
            p.configured = kxtools::field_text(settings.ip_address, sizeof settings.ip_address);
            ctx.watcher().settings_read({d, listed, true, {}}, settings);
        }
    } else {
        kx_device_record answer{};
        const identity who = identify_at(ctx, listed, d, answer);
        p.answers = who == identity::this_device;
        if (p.answers) p.configured = configured_address(answer);
        if (who == identity::another_device)
            p.note = fmt::format(
                "another device answers at this address ({} {}); this one takes it when it "
                "restarts? kxtool reaches it by its identifier",
                family_letter(answer.family), identifier_text(answer.device_id));
    }
    if (!p.answers && p.note.empty())
        p.note =
            "does not answer at this address (changed, not yet restarted?); kxtool reaches it by "
            "its identifier";
    else if (p.answers && p.configured != listed)
        p.note = "configured with " + p.configured;
    // Where its answer came from, when that is not where it is listed: the
    // address it keeps until it restarts, say.
    if (const std::string from = kxtools::field_text(d.answered_from, sizeof d.answered_from);
        !from.empty() && from != listed)
        p.note = "answers from " + from + (p.note.empty() ? "" : "; " + p.note);
    return p;
}

}  // namespace

search_report search_devices(const context &ctx) {
    search_report report;
    const search_result found = full_search(ctx);
    report.incomplete = found.incomplete();
    if (!found.listed()) {
        report.code = exit_failed;
        report.problem = found.problem;
        return report;
    }
    if (found.devices.empty()) {
        // A search stopped before any answer came says so, not "nothing answered".
        report.problem = ctx.stopping() ? "interrupted: the search was stopped before any device "
                                          "answered"
                                        : nothing_answered();
        report.code = ctx.stopping()       ? exit_interrupted
                      : found.incomplete() ? exit_incomplete
                                           : exit_not_found;
        return report;
    }
    for (const kx_device_record &d : found.devices) {
        if (!ctx.stopping()) {
            report.devices.push_back(probe_device(ctx, found, d));
            ctx.report({progress::step::device_checked, report.devices.size(), found.devices.size(),
                        configured_address(d), nullptr, 0});
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
