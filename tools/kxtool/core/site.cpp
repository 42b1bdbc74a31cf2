// baseline save, check and audit.
#include "site.h"

#include <fmt/core.h>

#include <algorithm>
#include <set>

#include "jobs.h"

namespace kxtool {
namespace {

using nlohmann::json;

std::string named(uint8_t family, const std::string &device_id, const std::string &address) {
    return address.empty() ? std::string(family_letter(family)) + " " + device_id
                           : address + " (" + device_id + ")";
}

// A value as a backup holds it, for a table: texts escaped, others as JSON.
std::string shown(const json &value) {
    if (value.is_null()) return "(none)";
    if (!value.is_string()) return value.dump();
    std::string bytes;  // each character one byte (U+0000 to U+00FF)
    const std::string &text = value.get_ref<const std::string &>();
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0xC0 && c <= 0xC3 && i + 1 < text.size())
            bytes += static_cast<char>((c & 0x03) << 6 | (text[++i] & 0x3F));
        else
            bytes += static_cast<char>(c);
    }
    return shown_text(bytes.data(), bytes.size());
}

std::vector<drift> drifts(const json &then, const kx_settings_record &now_read) {
    std::vector<drift> found;
    const json now = settings_json(now_read, false);
    for (const field &f : settings_fields()) {
        // Identity facts match by finding the device; a password is never kept.
        if (f.secret || f.type == kind::family || f.type == kind::identifier) continue;
        const json was = then.is_object() && then.contains(f.name) ? then[f.name] : json();
        if (was != now[f.name]) found.push_back({f.name, shown(was), shown(now[f.name])});
    }
    return found;
}

void report_device(const context &ctx, progress::step step, size_t index, size_t total,
                   const device_row &row) {
    ctx.report(
        {step, index, total, row.name, step == progress::step::device_done ? &row : nullptr, 0});
}

}  // namespace

job_result take_baseline(const context &ctx, const baseline_request &request, baseline &out) {
    out = {};
    out.name = request.name;
    out.whole_site = request.devices.empty();
    read_request read{
        {request.devices, request.devices.empty(), nullptr}, request.password, "", false};
    job_result job = read_devices(ctx, read);
    std::set<std::pair<uint8_t, std::string>> taken;
    for (const device_row &row : job.rows) {
        if (!row.ok() || !row.settings || !row.device) continue;
        const kx_settings_record &s = *row.settings;
        const std::string id = identifier_text(s.device_id);
        if (!taken.insert({s.family, id}).second) continue;  // named twice
        out.devices.push_back(
            {s.family, id, kxtools::field_text(s.device_name, sizeof s.device_name),
             kxtools::field_text(s.ip_address, sizeof s.ip_address), settings_json(s, false)});
    }
    return job;
}

check_report check_baseline(const context &ctx, const baseline &b, const std::string &password) {
    check_report report;
    finder f(ctx, nullptr);
    std::vector<target> every;
    if (int code = f.every(every, report.error); code != exit_ok) {
        report.code = code;
        return report;
    }
    report.incomplete = f.incomplete();
    std::vector<bool> in_baseline(every.size(), false);
    size_t index = 0;
    bool interrupted = false;
    for (const baseline_device &d : b.devices) {
        ++index;
        check_row row;
        row.family = d.family;
        row.device_id = d.device_id;
        row.device = named(d.family, d.device_id, d.address);
        const auto found = std::find_if(every.begin(), every.end(), [&](const target &t) {
            return t.record.family == d.family &&
                   identifier_text(t.record.device_id) == d.device_id;
        });
        if (found == every.end()) {
            row.what = check_row::state::missing;
            row.detail = "not found: the baseline has it at " + d.address + " (" + d.name + ")";
            report.rows.push_back(row);
            continue;
        }
        in_baseline[found - every.begin()] = true;
        row.device = label(*found);
        device_row shown_row;
        shown_row.name = row.device;
        shown_row.device = *found;
        report_device(ctx, progress::step::device_started, index, b.devices.size(), shown_row);
        kx_settings_record settings;
        shown_row.code = read_settings(ctx, *found, password, settings, row.detail);
        if (shown_row.code == exit_interrupted) {
            row.what = check_row::state::interrupted;
            interrupted = true;
        } else if (shown_row.code != exit_ok) {
            row.what = check_row::state::unread;
        } else {
            shown_row.settings = settings;
            row.drifts = drifts(d.settings, settings);
            row.what = row.drifts.empty() ? check_row::state::same : check_row::state::drifted;
        }
        report_device(ctx, progress::step::device_done, index, b.devices.size(), shown_row);
        report.rows.push_back(row);
    }
    for (size_t i = 0; i < every.size() && b.whole_site; ++i) {
        if (in_baseline[i]) continue;
        const std::string name =
            kxtools::field_text(every[i].record.device_name, sizeof every[i].record.device_name);
        report.rows.push_back({check_row::state::added,
                               label(every[i]),
                               every[i].record.family,
                               identifier_text(every[i].record.device_id),
                               "not in the baseline (" + name + ")",
                               {}});
    }
    const bool all_same = std::all_of(report.rows.begin(), report.rows.end(), [](const auto &r) {
        return r.what == check_row::state::same;
    });
    report.code = interrupted      ? exit_interrupted
                  : !all_same      ? exit_failed
                  : f.incomplete() ? exit_incomplete
                                   : exit_ok;
    return report;
}

audit_report audit_site(const context &ctx, journal *known) {
    using kind = audit_finding::kind;
    audit_report report;
    finder f(ctx, nullptr);
    std::vector<target> every;
    if (report.code = f.every(every, report.error); report.code != exit_ok) return report;
    report.incomplete = f.incomplete();
    if (every.empty()) {
        report.code = exit_not_found;
        report.error = "no device answered the search";
        return report;
    }
    std::set<std::string> shared_named;
    for (const target &t : every) {
        if (t.sharing.empty() || !shared_named.insert(configured_address(t.record)).second)
            continue;
        std::vector<const kx_device_record *> others;
        for (const kx_device_record &o : t.sharing) others.push_back(&o);
        report.findings.push_back(
            {kind::shared_address, configured_address(t.record),
             shared_address_text(t.record, others),
             "give all but one another address: kxtool set IDENTIFIER ip_address=ADDRESS names "
             "each by its identifier"});
    }
    bool interrupted = false;
    for (size_t i = 0; i < every.size(); ++i) {
        target t = every[i];
        const std::string id = identifier_text(t.record.device_id);
        const std::string configured = configured_address(t.record);
        const family_traits &family = *family_by_code(t.record.family);
        device_row row;
        row.name = label(t);
        row.device = t;
        if (ctx.stopping()) {
            interrupted = true;
            break;
        }
        report_device(ctx, progress::step::device_started, i + 1, every.size(), row);
        ++report.checked;
        // Where it answers: at the address it is configured with, and at the
        // other places the journal has seen its identifier.
        kx_device_record answer{};
        bool answers_here = false;
        std::string answers_at;  // another address it answers at
        if (t.sharing.empty() && valid_device_address(configured))
            answers_here = identify_at(ctx, configured, t.record, answer) == identity::this_device;
        std::set<std::string> asked{configured};
        for (const journal_place &p :
             known ? known->places(t.record.family, id) : std::vector<journal_place>{}) {
            for (const std::string &address : {p.configured, p.answered_from}) {
                if (asked.size() > 4 || !valid_device_address(address) ||
                    !asked.insert(address).second)
                    continue;
                kx_device_record there{};
                if (identify_at(ctx, address, t.record, there) != identity::this_device) continue;
                if (configured_address(there) == address)
                    report.findings.push_back(
                        {kind::shared_identifier, fmt::format("{} {}", family.letter, id),
                         fmt::format("two devices have this identifier: one answers at {}, "
                                     "configured with it, the other is configured with {}",
                                     address, configured),
                         "requests that select a device by its identifier reach both: take one "
                         "off the network until its identifier (set at the factory) differs"});
                else if (!answers_here)
                    answers_at = address;
            }
        }
        bool reachable = true;
        if (t.sharing.empty() && !answers_here) {
            std::string detail =
                valid_device_address(configured)
                    ? "configured with " + configured + ", but does not answer there"
                    : "configured with " + configured + ", no device's address";
            if (!answers_at.empty()) detail += "; it answers at " + answers_at;
            report.findings.push_back(
                {kind::elsewhere, named(t.record.family, id, answers_at), detail,
                 fmt::format("if its address was changed, restart it so that it takes it; "
                             "otherwise write the address it should have: kxtool set {} "
                             "ip_address=ADDRESS",
                             id)});
            t.address = answers_at;
            t.answered = !answers_at.empty();
            reachable = t.answered || family.reached_by_identifier;
        } else if (answers_here) {
            t.answered = true;
        }
        // An empty password: a login with none, logged out at once.
        session s(ctx, t);
        if (reachable && s.login("")) {
            report.findings.push_back(
                {kind::empty_password, s.label(),
                 "accepts an empty password (a login with none was accepted and logged out at "
                 "once)",
                 fmt::format("give it one: kxtool set {} password=NEW", id)});
        } else if (reachable && s.result() != KX_E_REFUSED) {
            report.findings.push_back({kind::unchecked, s.label(),
                                       "its password could not be checked: " + s.error(),
                                       "see that it is on and reachable (kxtool doctor)"});
        }
        s.close();
        report_device(ctx, progress::step::device_done, i + 1, every.size(), row);
    }
    report.code = interrupted                ? exit_interrupted
                  : !report.findings.empty() ? exit_failed
                  : report.incomplete        ? exit_incomplete
                                             : exit_ok;
    return report;
}

}  // namespace kxtool
