#include "print.h"

#include <fmt/core.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>

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
    // A sweep's bar, drawn over itself on one line once the sweep has taken
    // a second, and ended with its line when the search is done.
    auto sweep_began = std::make_shared<std::chrono::steady_clock::time_point>();
    auto bar_drawn = std::make_shared<bool>(false);
    ctx.on_progress = [terminal, show_blocks, sweep_began, bar_drawn](const progress &p) {
        if (p.what == progress::step::search_started) {
            *sweep_began = std::chrono::steady_clock::now();
            *bar_drawn = false;
        }
        if (p.what == progress::step::sweep_asked && terminal && p.total > 0 &&
            (*bar_drawn ||
             std::chrono::steady_clock::now() - *sweep_began >= std::chrono::seconds(1))) {
            constexpr size_t width = 30;
            const size_t done = p.index * width / p.total;
            std::fprintf(stderr, "\rsweep [%s%s] %zu/%zu addresses, %zu device(s) ",
                         std::string(done, '#').c_str(), std::string(width - done, '.').c_str(),
                         p.index, p.total, p.found);
            *bar_drawn = true;
        }
        if (p.what == progress::step::search_done && *bar_drawn) {
            std::fprintf(stderr, "\n");
            *bar_drawn = false;
        }
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
        for (const device_row &r : job.rows) list.push_back(row_json(r, with_settings));
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
        list.push_back(search_entry_json(e));
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
    for (const std::string &line : doctor_lines(report)) fmt::print("{}\n", line);
    return report.problem ? exit_failed : exit_ok;
}

void print_fields(const family_traits *only) {
    for (const field &f : settings_fields()) {
        fmt::print("{}{}\n    {}{}\n", f.name, *f.unit ? std::string(" (") + f.unit + ")" : "",
                   f.meaning, field_notes(f));
        for (const family_traits &family : kxtools::families())
            if (only == nullptr || only == &family)
                fmt::print("    family {}: {}\n", family.letter, field_takes(f, family));
    }
}

}  // namespace kxtool::cli
