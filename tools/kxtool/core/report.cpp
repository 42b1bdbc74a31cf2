// What every front end shows of the core's results: a search's devices and
// a job's rows as JSON, the doctor's findings as lines, a field's notes. The
// command line prints them; the console sends them to its page.
#include <fmt/core.h>

#include "core.h"

namespace kxtool {

nlohmann::ordered_json search_entry_json(const search_entry &e) {
    nlohmann::ordered_json one = device_json(e.record);
    one["firmware_version"] = e.firmware;
    one["answers"] = e.answers;
    if (e.configured != configured_address(e.record)) one["configured_address"] = e.configured;
    if (e.record.answered_from[0] != '\0')
        one["answered_from"] =
            kxtools::field_text(e.record.answered_from, sizeof e.record.answered_from);
    if (!e.note.empty()) one["note"] = e.note;
    return one;
}

nlohmann::ordered_json row_json(const device_row &r, bool with_settings) {
    nlohmann::ordered_json row = nlohmann::ordered_json::object();
    row["device"] = r.name;
    if (r.device) {
        row["family"] = r.device->record.family;
        row["device_id"] = identifier_text(r.device->record.device_id);
        row["ip_address"] = configured_address(r.device->record);
    }
    row["ok"] = r.ok();
    if (r.code == exit_interrupted) row["interrupted"] = true;
    row["detail"] = r.detail;
    if (with_settings && r.settings) row["settings"] = settings_json(*r.settings, false);
    if (!r.file.empty()) row["file"] = r.file;
    return row;
}

std::string field_notes(const field &f) {
    std::string notes;
    if (f.identity) notes += "; identity: a clone leaves it alone unless named with --set";
    if (f.secret) notes += "; never shown in a table, left out of save unless --with-password";
    return notes;
}

std::vector<std::string> doctor_lines(const doctor_report &report) {
    std::vector<std::string> lines{"IPv4 adapters:"};
    if (!report.adapter_error.empty()) lines.push_back("  " + report.adapter_error);
    for (const adapter &a : report.adapters)
        lines.push_back(fmt::format("  {:<12} {:<15} mask {:<15} broadcast {:<15} {}{}", a.name,
                                    address_text(a.address), address_text(a.mask),
                                    a.broadcast != 0 ? address_text(a.broadcast) : "-",
                                    a.up ? "up" : "down", a.loopback ? ", loopback" : ""));
    if (report.routed)
        lines.push_back(fmt::format(
            "255.255.255.255 leaves by: {}; the search also goes to every adapter's own "
            "broadcast address",
            report.route_by));
    else
        lines.push_back(
            fmt::format("255.255.255.255 has no route ({}): only the adapters' own broadcast "
                        "addresses reach devices",
                        report.route_error));
    switch (report.port) {
        case port_state::free:
            lines.push_back("local UDP port 65281: free");
            break;
        case port_state::in_use:
            lines.push_back(
                "local UDP port 65281: in use by another program; no operation can run "
                "until it ends");
            break;
        case port_state::unusable:
            lines.push_back(
                fmt::format("local UDP port 65281: cannot be bound ({})", report.port_detail));
            break;
    }
    constexpr long search_queue = 4L * 1024 * 1024;
    if (report.queue_cap == 0)
        lines.push_back(
            "receive queue: no cap to read; Windows grants the 4 MiB a search asks for");
    else if (report.queue_cap >= search_queue)
        lines.push_back(
            fmt::format("receive queue: capped at {} bytes (net.core.rmem_max); a search gets the "
                        "4 MiB it asks for",
                        report.queue_cap));
    else
        lines.push_back(
            fmt::format("receive queue: capped at {} bytes (net.core.rmem_max), below the 4 MiB a "
                        "search asks for: with hundreds of devices answering at once some answers "
                        "are dropped; raise it with sysctl -w net.core.rmem_max=4194304",
                        report.queue_cap));
    if (!report.listed) {
        lines.push_back("search: " + report.search_problem);
        return lines;
    }
    lines.push_back(fmt::format("search: {} device(s) answered", report.found));
    for (const auto &[subnet, count] : report.per_adapter)
        lines.push_back(fmt::format("  on {}: {}", subnet, count));
    if (report.elsewhere > 0)
        lines.push_back(
            fmt::format("  configured outside every adapter's subnet: {} (not reachable at their "
                        "addresses)",
                        report.elsewhere));
    for (const std::string &text : report.shared)
        lines.push_back(fmt::format(
            "  {} (kxtool tells them apart by their identifiers; give one another address)", text));
    if (report.incomplete) lines.push_back("  " + report.search_problem);
    return lines;
}

}  // namespace kxtool
