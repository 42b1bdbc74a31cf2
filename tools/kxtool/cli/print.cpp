#include "print.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define kxtool_isatty _isatty
#define kxtool_fileno _fileno
#else
#include <unistd.h>
#define kxtool_isatty isatty
#define kxtool_fileno fileno
#endif

namespace kxtool::cli {

void complain(const std::string &message) {
    std::fflush(stdout);  // keep data already printed ahead of the message
    std::fprintf(stderr, "kxtool: %s\n", message.c_str());
}

void print_settings(const kx_settings_record &settings) {
    for (const field &f : settings_fields())
        fmt::print("{} = {}\n", f.name, value_text(settings, f));
}

void print_to_terminal(context &ctx, bool verbose, bool show_blocks) {
    ctx.on_warning = [](const std::string &text) { complain("warning: " + text); };
    if (verbose)
        ctx.on_trace = [](const std::string &line) { std::fprintf(stderr, "%s\n", line.c_str()); };
    const bool terminal = kxtool_isatty(kxtool_fileno(stderr)) != 0;
    ctx.on_progress = [terminal, show_blocks](const progress &p) {
        if (p.what == progress::step::device_started && terminal)
            std::fprintf(stderr, "[%zu/%zu] %s\n", p.index, p.total, p.name.c_str());
        if (p.what == progress::step::device_done && show_blocks && p.row->settings) {
            fmt::print("# {}\n", p.row->name);
            print_settings(*p.row->settings);
            fmt::print("\n");
        }
    };
}

int print_batch(const job_result &job, bool as_json, bool with_settings) {
    size_t failed = 0, interrupted = 0;
    for (const device_row &r : job.rows)
        if (r.code == exit_interrupted)
            ++interrupted;
        else if (!r.ok())
            ++failed;
    auto result_word = [](const device_row &r) {
        return r.ok() ? "ok" : r.code == exit_interrupted ? "interrupted" : "FAILED";
    };
    if (as_json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const device_row &r : job.rows) {
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
            list.push_back(row);
        }
        fmt::print("{}\n", list.dump(2));
    } else {
        size_t width = 6;
        for (const device_row &r : job.rows) width = std::max(width, r.name.size());
        const size_t result_width = interrupted > 0 ? 11 : 6;
        fmt::print("{:<{}}  {:<6}  {:<{}}  {}\n", "device", width, "family", "result", result_width,
                   "detail");
        for (const device_row &r : job.rows)
            fmt::print("{:<{}}  {:<6}  {:<{}}  {}\n", r.name, width,
                       r.device ? family_letter(r.device->record.family) : "", result_word(r),
                       result_width, r.detail);
        fmt::print("{} ok, {} failed{}\n", job.rows.size() - failed - interrupted, failed,
                   interrupted > 0 ? fmt::format(", {} interrupted", interrupted) : "");
    }
    std::fflush(stdout);
    return job.code;
}

int print_failure(const job_result &job) {
    if (!job.error.empty())
        complain(job.error);
    else if (!job.rows.empty() && !job.rows.front().detail.empty())
        complain(job.rows.front().detail);
    return job.code;
}

int print_search(const search_report &report, bool as_json) {
    if (report.devices.empty()) {
        if (as_json && report.code != exit_failed) fmt::print("[]\n");  // a list, if empty
        complain(report.problem);
        return report.code;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::vector<std::vector<std::string>> rows;
    for (const search_entry &e : report.devices) {
        const kx_device_record &d = e.record;
        const std::string listed = configured_address(d);
        nlohmann::ordered_json one = device_json(d);
        one["firmware_version"] = e.firmware;
        one["answers"] = e.answers;
        if (e.configured != listed) one["configured_address"] = e.configured;
        if (!e.note.empty()) one["note"] = e.note;
        list.push_back(one);
        rows.push_back({family_letter(d.family), shown_text(listed.c_str(), listed.size()),
                        identifier_text(d.device_id),
                        shown_text(d.device_name, sizeof d.device_name),
                        std::to_string(d.local_port), e.firmware, e.note});
    }
    if (as_json) {
        fmt::print("{}\n", list.dump(2));
    } else {
        // The note column appears only when a device has one; no line ends in blanks.
        const bool any_note =
            std::any_of(rows.begin(), rows.end(), [](const auto &r) { return !r[6].empty(); });
        auto print_row = [](const std::vector<std::string> &r) {
            std::string line = fmt::format("{:<6} {:<15} {:<23} {:<10} {:>5} {:<16} {}", r[0], r[1],
                                           r[2], r[3], r[4], r[5], r[6]);
            line.erase(line.find_last_not_of(' ') + 1);
            fmt::print("{}\n", line);
        };
        print_row({"family", "address", "identifier", "name", "port", "firmware",
                   any_note ? "note" : ""});
        for (const auto &r : rows) print_row(r);
    }
    if (report.code == exit_interrupted)
        complain(report.problem);
    else if (report.incomplete)
        complain("warning: " + report.problem);
    return report.code;
}

int print_doctor(const doctor_report &report) {
    fmt::print("IPv4 adapters:\n");
    if (!report.adapter_error.empty()) fmt::print("  {}\n", report.adapter_error);
    for (const adapter &a : report.adapters)
        fmt::print("  {:<12} {:<15} mask {:<15} broadcast {:<15} {}{}\n", a.name,
                   address_text(a.address), address_text(a.mask),
                   a.broadcast != 0 ? address_text(a.broadcast) : "-", a.up ? "up" : "down",
                   a.loopback ? ", loopback" : "");
    if (report.routed)
        fmt::print(
            "255.255.255.255 leaves by: {}; the search also goes to every adapter's own "
            "broadcast address\n",
            report.route_by);
    else
        fmt::print(
            "255.255.255.255 has no route ({}): only the adapters' own broadcast "
            "addresses reach devices\n",
            report.route_error);
    switch (report.port) {
        case port_state::free:
            fmt::print("local UDP port 65281: free\n");
            break;
        case port_state::in_use:
            fmt::print(
                "local UDP port 65281: in use by another program; no operation can run "
                "until it ends\n");
            break;
        case port_state::unusable:
            fmt::print("local UDP port 65281: cannot be bound ({})\n", report.port_detail);
            break;
    }
    constexpr long search_queue = 4L * 1024 * 1024;
    if (report.queue_cap == 0)
        fmt::print("receive queue: no cap to read; Windows grants the 4 MiB a search asks for\n");
    else if (report.queue_cap >= search_queue)
        fmt::print(
            "receive queue: capped at {} bytes (net.core.rmem_max); a search gets the "
            "4 MiB it asks for\n",
            report.queue_cap);
    else
        fmt::print(
            "receive queue: capped at {} bytes (net.core.rmem_max), below the 4 MiB a "
            "search asks for: with hundreds of devices answering at once some answers "
            "are dropped; raise it with sysctl -w net.core.rmem_max=4194304\n",
            report.queue_cap);
    if (!report.listed) {
        fmt::print("search: {}\n", report.search_problem);
        return exit_failed;
    }
    fmt::print("search: {} device(s) answered\n", report.found);
    for (const auto &[subnet, count] : report.per_adapter)
        fmt::print("  on {}: {}\n", subnet, count);
    if (report.elsewhere > 0)
        fmt::print(
            "  configured outside every adapter's subnet: {} (not reachable at their "
            "addresses)\n",
            report.elsewhere);
    for (const std::string &text : report.shared)
        fmt::print(
            "  {} (kxtool tells them apart by their identifiers; give one another address)\n",
            text);
    if (report.incomplete) fmt::print("  {}\n", report.search_problem);
    return report.problem ? exit_failed : exit_ok;
}

void print_fields(const family_traits *only) {
    for (const field &f : settings_fields()) {
        std::string notes;
        if (f.identity) notes += "; identity: a clone leaves it alone unless named with --set";
        if (f.secret) notes += "; never shown in a table, left out of save unless --with-password";
        fmt::print("{}{}\n    {}{}\n", f.name, *f.unit ? std::string(" (") + f.unit + ")" : "",
                   f.meaning, notes);
        for (const family_traits &family : kxtools::families())
            if (only == nullptr || only == &family)
                fmt::print("    family {}: {}\n", family.letter, field_takes(f, family));
    }
}

}  // namespace kxtool::cli
