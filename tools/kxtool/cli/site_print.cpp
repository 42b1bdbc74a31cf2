// How the command line shows the journal and the site's jobs: inventory,
// history, baselines, check and audit, as tables, CSV or JSON.
#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "print.h"

namespace kxtool::cli {
namespace {

using ordered = nlohmann::ordered_json;

// "2024-05-01T12:00:03.123Z" as "2024-05-01T12:00:03Z".
std::string seconds(const std::string &time) {
    return time.size() > 19 ? time.substr(0, 19) + "Z" : time;
}

std::string device_name(const std::string &device_id, const std::string &address) {
    return address.empty() ? device_id + " (broadcast)" : address + " (" + device_id + ")";
}

// "9600 8N1" from a snapshot; "-" without one.
std::string serial_text(const nlohmann::json &settings) {
    if (!settings.is_object()) return "-";
    const auto number = [&](const char *name) {
        const auto &v = settings.value(name, nlohmann::json());
        return v.is_number() ? std::to_string(v.get<uint64_t>()) : std::string("?");
    };
    const auto &parity = settings.value("parity", nlohmann::json());
    const char letter = parity.is_string() && !parity.get<std::string>().empty()
                            ? static_cast<char>(parity.get<std::string>()[0] & ~0x20)
                            : '?';
    return number("baud_rate") + " " + number("data_bits") + letter + number("stop_bits");
}

std::string status_text(const journal_device &d) { return online_text(d); }

// RFC 4180 quoting; a text a spreadsheet would take for a formula is led
// by a quote mark, since devices' names come from the network.
std::string csv(const std::string &value) {
    std::string text = value;
    if (!text.empty() && std::string_view("=+-@").find(text[0]) != std::string_view::npos)
        text = "'" + text;
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string shown(const std::string &text) { return shown_text(text.data(), text.size()); }

void print_table(const std::vector<std::string> &header,
                 const std::vector<std::vector<std::string>> &rows) {
    std::vector<size_t> widths(header.size());
    for (size_t c = 0; c < header.size(); ++c) {
        widths[c] = header[c].size();
        for (const auto &row : rows) widths[c] = std::max(widths[c], row[c].size());
    }
    auto line = [&](const std::vector<std::string> &cells) {
        std::string text;
        for (size_t c = 0; c < cells.size(); ++c)
            text += c + 1 < cells.size() ? fmt::format("{:<{}}  ", cells[c], widths[c]) : cells[c];
        while (!text.empty() && text.back() == ' ') text.pop_back();
        fmt::print("{}\n", text);
    };
    line(header);
    for (const auto &row : rows) line(row);
}

std::string change_text(const journal_field &f) {
    if (f.secret) return f.field + ": changed (not shown)";
    return f.field + ": " + f.before.value_or("(not read)") + " -> " +
           f.after.value_or("(not read back)");
}

const char *state_word(check_row::state s) {
    switch (s) {
        case check_row::state::same:
            return "same";
        case check_row::state::drifted:
            return "drifted";
        case check_row::state::missing:
            return "missing";
        case check_row::state::added:
            return "new";
        case check_row::state::unread:
            return "unread";
        case check_row::state::interrupted:
            return "interrupted";
    }
    return "";
}

const char *finding_word(audit_finding::kind k) {
    switch (k) {
        case audit_finding::kind::empty_password:
            return "empty password";
        case audit_finding::kind::shared_address:
            return "shared address";
        case audit_finding::kind::shared_identifier:
            return "shared identifier";
        case audit_finding::kind::elsewhere:
            return "not at its address";
        case audit_finding::kind::unchecked:
            return "not checked";
    }
    return "";
}

}  // namespace

int print_inventory(const std::vector<journal_device> &devices, inventory_format format) {
    if (format == inventory_format::json) {
        // One device at a time, as the list's items: 10,000 devices never
        // make one text.
        std::fputs("[", stdout);
        for (size_t i = 0; i < devices.size(); ++i) {
            const journal_device &d = devices[i];
            const ordered item = journal_device_json(d);
            std::string text = item.dump(2);
            for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 3))
                text.replace(at, 1, "\n  ");
            fmt::print("{}\n  {}", i == 0 ? "" : ",", text);
        }
        std::fputs(devices.empty() ? "]\n" : "\n]\n", stdout);
    } else if (format == inventory_format::csv) {
        const char *serial[] = {"baud_rate", "parity", "data_bits", "stop_bits", "flow_control"};
        fmt::print(
            "status,family,device_id,device_name,ip_address,answered_from,firmware_version,"
            "baud_rate,parity,data_bits,stop_bits,flow_control,first_seen,last_seen,"
            "settings_read\r\n");
        for (const journal_device &d : devices) {
            std::string line = fmt::format(
                "{},{},{},{},{},{},{}", status_text(d), family_letter(d.family), d.device_id,
                csv(d.name), csv(d.configured), csv(d.answered_from), csv(d.firmware));
            for (const char *name : serial) {
                const nlohmann::json v =
                    d.settings.is_object() ? d.settings.value(name, nlohmann::json()) : nullptr;
                line += ',';
                if (v.is_string())
                    line += csv(v.get<std::string>());
                else if (v.is_number())
                    line += v.dump();
            }
            fmt::print("{},{},{},{}\r\n", line, d.first_seen, d.last_seen, d.settings_time);
        }
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const journal_device &d : devices) {
            const bool elsewhere = !d.answered_from.empty() && d.answered_from != d.configured;
            rows.push_back({status_text(d), family_letter(d.family), shown(d.configured),
                            d.device_id, shown(d.name), shown(d.firmware), serial_text(d.settings),
                            seconds(d.last_seen),
                            elsewhere ? "answers at " + shown(d.answered_from) : ""});
        }
        print_table({"status", "family", "address", "identifier", "name", "firmware", "serial",
                     "last seen", ""},
                    rows);
    }
    std::fflush(stdout);
    return exit_ok;
}

int print_history(const std::vector<journal_change> &changes, bool as_json) {
    if (as_json) {
        ordered list = ordered::array();
        for (const journal_change &c : changes) list.push_back(journal_change_json(c));
        fmt::print("{}\n", list.dump(2));
        std::fflush(stdout);
        return exit_ok;
    }
    std::vector<std::vector<std::string>> rows;
    for (const journal_change &c : changes) {
        const std::vector<std::string> head = {seconds(c.time), c.user + "@" + c.host,
                                               device_name(c.device_id, c.address), c.command,
                                               c.ok ? "ok" : "FAILED"};
        for (const journal_field &f : c.fields) {
            rows.push_back(head);
            rows.back().push_back(change_text(f));
        }
        if (!c.ok || c.fields.empty()) {
            rows.push_back(head);
            rows.back().push_back(c.ok ? "nothing changed" : c.detail);
        }
    }
    if (rows.empty()) {
        complain("no change recorded");
        return exit_ok;
    }
    print_table({"time", "who", "device", "command", "result", "change"}, rows);
    std::fflush(stdout);
    return exit_ok;
}

int print_baselines(const std::vector<baseline> &baselines) {
    std::vector<std::vector<std::string>> rows;
    for (const baseline &b : baselines)
        rows.push_back({b.name, seconds(b.time), b.user + "@" + b.host,
                        std::to_string(b.devices.size()), b.whole_site ? "every device" : "named"});
    if (rows.empty()) {
        complain("no baseline saved (kxtool baseline save NAME)");
        return exit_ok;
    }
    print_table({"name", "taken", "by", "devices", "of"}, rows);
    return exit_ok;
}

int print_check(const baseline &b, const check_report &report, bool as_json) {
    if (!report.error.empty()) {
        complain(report.error);
        return report.code;
    }
    if (as_json) {
        ordered list = ordered::array();
        for (const check_row &r : report.rows) {
            ordered drifts = ordered::array();
            for (const drift &d : r.drifts)
                drifts.push_back({{"field", d.field}, {"baseline", d.then}, {"now", d.now}});
            list.push_back({{"device", r.device},
                            {"family", r.family},
                            {"device_id", r.device_id},
                            {"state", state_word(r.what)},
                            {"detail", r.detail},
                            {"drifts", drifts}});
        }
        fmt::print("{}\n",
                   ordered{{"baseline", b.name}, {"taken", b.time}, {"devices", list}}.dump(2));
    } else {
        std::vector<std::vector<std::string>> rows;
        std::map<check_row::state, size_t> counts;
        for (const check_row &r : report.rows) {
            std::string detail = r.detail;
            for (const drift &d : r.drifts)
                detail += (detail.empty() ? "" : "; ") + d.field + ": " + d.then + " -> " + d.now;
            rows.push_back({r.device, family_letter(r.family), state_word(r.what), detail});
            ++counts[r.what];
        }
        print_table({"device", "family", "state", "detail"}, rows);
        std::string summary;
        for (const auto &[state, count] : counts)
            summary +=
                fmt::format("{}{} {}", summary.empty() ? "" : ", ", count, state_word(state));
        fmt::print("baseline {} of {}: {}\n", b.name, seconds(b.time), summary);
    }
    std::fflush(stdout);
    if (report.incomplete)
        complain("warning: the search may have missed devices: new ones may be unlisted");
    return report.code;
}

int print_audit(const audit_report &report, bool as_json) {
    if (!report.error.empty()) {
        complain(report.error);
        return report.code;
    }
    if (as_json) {
        ordered list = ordered::array();
        for (const audit_finding &f : report.findings)
            list.push_back({{"finding", finding_word(f.what)},
                            {"device", f.device},
                            {"detail", f.detail},
                            {"advice", f.advice}});
        fmt::print("{}\n", list.dump(2));
    } else {
        std::vector<std::vector<std::string>> rows;
        for (const audit_finding &f : report.findings)
            rows.push_back({finding_word(f.what), f.device, f.detail + "; " + f.advice});
        if (!rows.empty()) print_table({"finding", "device", "detail; what to do"}, rows);
        fmt::print("{} finding(s), {} device(s) audited\n", report.findings.size(), report.checked);
    }
    std::fflush(stdout);
    if (report.incomplete) complain("warning: the search may have missed devices");
    return report.code;
}

}  // namespace kxtool::cli
