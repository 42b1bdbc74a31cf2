// kxtool set, restore (and diff), apply and the quick settings: every
// change is checked before anything is sent, written, read back and
// compared.
#include <fmt/core.h>

#include <algorithm>
#include <map>
#include <set>

#include "addresses.h"
#include "jobs.h"

namespace kxtool {
namespace {

using nlohmann::json;

// A single device's change as the job's one row.
device_row change_row(const context &ctx, const std::string &name, finder &f,
                      const assignments *changes,
                      const std::function<int(const target &, assignments &, std::string &)> &plan,
                      const std::string &password, bool dry_run, bool force,
                      std::string_view command) {
    device_row row;
    row.name = name;
    target t;
    row.code = f.find(name, t, row.detail);
    if (row.code != exit_ok) return row;
    row.device = t;
    row.name = label(t);
    assignments planned = changes != nullptr ? *changes : assignments{};
    if (plan && (row.code = plan(t, planned, row.detail)) != exit_ok) return row;
    const change_outcome r = change_settings(ctx, t, password, planned, dry_run, force, command);
    row.code = r.code;
    row.detail = r.error;
    row.differences = r.differences;
    row.settings = r.kept;
    return row;
}

// One quick setting (after a login where a password was given), then a read
// of the settings to see that it was kept.
device_row quick_row(const context &ctx, const quick_request &request, const field &f,
                     const json &value, const target &t) {
    const std::string &name = request.setting;
    const std::string &password = request.password;
    device_row row;
    row.name = label(t);
    row.device = t;
    const family_traits &family = *family_by_code(t.record.family);
    const std::string who = label(t);
    auto refuse = [&](int code, std::string detail) {
        row.code = code;
        row.detail = std::move(detail);
        return row;
    };
    if (std::string why = refusal(f, value, &family); !why.empty())
        return refuse(exit_refused, who + ": " + name + " " + request.value + ": " + why +
                                        "; nothing was sent to it");
    if (std::string why = password_refusal(family, password); !why.empty())
        return refuse(exit_refused,
                      who + ": " + why + " (for the read-back); nothing was sent to it");
    uint32_t argument = code_of(f, value, family).value_or(0);
    // A family whose quick setter numbers parity its own way carries only
    // the codes it has a number for.
    const bool own_parity = &f == find_field("parity") && !family.quick_parity.empty();
    if (own_parity && argument >= family.quick_parity.size())
        return refuse(
            exit_refused,
            fmt::format("{}: the quick setting of a family {} device carries parity codes "
                        "0 to {} only; nothing was sent to it",
                        who, family.letter, family.quick_parity.size() - 1));
    if (own_parity) argument = family.quick_parity[argument];
    // A quick setting carries no identifier: it changes whichever device
    // answers at the address (every one, where two do), so that must be
    // this one alone.
    target checked = t;
    for (const kx_device_record &other : t.sharing)
        if (other.family == t.record.family)
            return refuse(exit_failed,
                          who + ": " + shared_address_text(t.record, {&other}) +
                              "; a quick setting carries no identifier and would change "
                              "whichever answers there. Nothing was sent to it (give one of them "
                              "another address)");
    kx_device_record answer{};
    if (!checked.answered &&
        identify_at(ctx, checked.address, checked.record, answer) != identity::this_device)
        return refuse(exit_failed,
                      who + " does not answer as itself at " +
                          (checked.address.empty() ? configured_address(t.record) +
                                                         ", the address it is configured with"
                                                   : checked.address) +
                          ", and a quick setting carries no identifier: it would change whichever "
                          "device answers there. Nothing was sent to it (name the address it "
                          "answers at)");
    checked.answered = true;
    if (ctx.stopping()) return refuse(exit_interrupted, "interrupted: nothing was sent to " + who);
    session s(ctx, checked);
    if (request.password_given && !s.login(password))
        return refuse(exit_failed, s.error() + "; the " + name + " setting was not sent");
    const char *address = checked.address.c_str();
    const void *record = &checked.record;
    const std::string call = name == "databits" ? "kx_setting_databit" : "kx_setting_" + name;
    const int32_t result = traced(ctx, call + " " + who, [&] {
        return name == "baud"     ? kx_setting_baud(address, argument, record)
               : name == "parity" ? kx_setting_parity(address, argument, record)
                                  : kx_setting_databit(address, argument, record);
    });
    if (result != KX_OK) return refuse(exit_failed, failure_text(who, name + " setting", result));
    const change_outcome r = read_back(ctx, s, password, {{&f, value}}, name);
    row.code = r.code;
    row.settings = r.kept;
    row.detail = r.code != exit_ok ? r.error : std::string(f.name) + " = " + value_text(r.kept, f);
    return row;
}

// A parity code is each device's own, and the families number odd and even
// the other way round: one code for both would set odd on some devices and
// even on the others. Empty when the value means one parity on every device.
std::string mixed_parity_code(const field &f, const json &value,
                              const std::vector<wanted> &devices) {
    if (&f != find_field("parity") || !value.is_number_unsigned()) return {};
    std::map<std::string, std::string> word_by_family;  // family letter: the word for the code
    for (const wanted &w : devices) {
        if (w.code != exit_ok) continue;
        const family_traits &family = *family_by_code(w.device.record.family);
        std::string meaning = value.dump();
        for (const kxtools::field_words &own : family.words)
            if (own.field == "parity")
                for (const word &known : own.words)
                    if (known.code == value.get<uint64_t>()) meaning = known.text;
        word_by_family[family.letter] = meaning;
    }
    std::set<std::string> meanings_seen;
    for (const auto &[letter, meaning] : word_by_family) meanings_seen.insert(meaning);
    if (meanings_seen.size() < 2) return {};
    std::string meanings;
    for (const auto &[letter, meaning] : word_by_family)
        meanings += (meanings.empty() ? "" : ", ") + meaning + " on family " + letter;
    return "parity " + value.dump() +
           " is each device's own code, and these devices are of "
           "families that number parity differently (" +
           meanings + "): give the parity as a word (none, odd, even, mark, space) or add " +
           kxtools::family_choices("--family ") + "; nothing was sent";
}

// What an apply entry asks for, checked before anything is sent.
struct entry {
    std::string device, password, error;
    settings_source source;
};

entry read_entry(const json &item, const std::string &password) {
    entry e;
    e.password = password;
    if (!item.is_object() || !item.contains("device") || !item["device"].is_string() ||
        !(valid_device_address(item["device"].get<std::string>()) ||
          valid_identifier(item["device"].get<std::string>()))) {
        e.error = "needs \"device\", an address or identifier text";
        return e;
    }
    e.device = item["device"];
    for (const auto &[key, value] : item.items()) {
        if (key == "device" || key == "settings") continue;
        if (key == "password" && value.is_string() && value.get<std::string>().size() <= 10 &&
            valid_setting_text(value.get<std::string>()))
            e.password = value;
        else if (key == "clone" && value.is_boolean())
            e.source.clone = value;
        else if (key == "set" && value.is_array() &&
                 std::all_of(value.begin(), value.end(),
                             [](const json &v) { return v.is_string(); }))
            e.source.set = value.get<std::vector<std::string>>();
        else
            e.error = key == "password" || key == "clone" || key == "set"
                          ? key + ": " +
                                (key == "password" ? text_limits(*find_field("password")) +
                                                         ", printable, without '|' or '/'"
                                 : key == "clone" ? "true or false"
                                                  : "a list of field names")
                          : "unknown key " + key +
                                " (an entry has device, password, settings, clone, set)";
    }
    if (e.error.empty())
        read_source(item.contains("settings") ? item["settings"] : json::object(), e.source,
                    e.error);
    return e;
}

}  // namespace

const field &quick_field(const std::string &setting) {
    return *find_field(setting == "baud"     ? "baud_rate"
                       : setting == "parity" ? "parity"
                                             : "data_bits");
}

job_result set_settings(const context &ctx, const set_request &request) {
    job_result job;
    // A value that loses any device is refused before anything is sent.
    std::string ignored;
    const std::vector<adapter> host = list_adapters(ignored);
    for (const auto &[f, value] : request.changes)
        if (std::string why = request.force || f->type != kind::address
                                  ? std::string()
                                  : lost_address(f->name, value.get<std::string>(), host);
            !why.empty()) {
            job.code = exit_refused;
            job.error = std::string(f->name) + "=" + value.get<std::string>() + ": " + why +
                        " (--force writes it all the same); nothing was sent";
            return job;
        }
    finder f(ctx, request.family);
    job.rows.push_back(change_row(ctx, request.device, f, &request.changes, nullptr,
                                  request.password, request.dry_run, request.force, "set"));
    job.code = job.rows.front().code;
    return job;
}

job_result restore_settings(const context &ctx, const restore_request &request) {
    job_result job;
    settings_source source;
    source.clone = request.clone;
    source.set = request.set;
    if (!read_source(request.backup, source, job.error)) {
        job.code = exit_refused;
        job.error = request.source + ": " + job.error + "; nothing was sent";
        return job;
    }
    if (!source.family || family_by_code(*source.family) == nullptr) {
        job.code = exit_refused;
        job.error =
            request.source + ": " +
            (source.family ? "family " + std::to_string(*source.family) + " is no known family code"
                           : std::string("no family")) +
            " (" + kxtools::family_codes() + "); nothing was sent";
        return job;
    }
    finder f(ctx, request.family);
    assignments planned;
    auto plan = [&](const target &t, assignments &changes, std::string &error) {
        if (plan_changes(source, t, true, changes, error) != exit_ok) {
            error = request.source + ": " + error + ". Nothing was written";
            return exit_refused;
        }
        planned = changes;
        return exit_ok;
    };
    device_row row = change_row(ctx, request.device, f, nullptr, plan, request.password,
                                request.dry_run, request.force, "restore");
    for (const auto &[field, value] : source.values)
        if (row.code == exit_ok && std::none_of(planned.begin(), planned.end(),
                                                [&](const auto &c) { return c.first == field; }))
            row.left_alone.push_back(field->name);
    job.code = row.code;
    job.rows.push_back(row);
    return job;
}

job_result apply_settings(const context &ctx, const apply_request &request) {
    job_result job;
    job.batch = true;
    if (!request.entries.is_array()) {
        job.code = exit_refused;
        job.error =
            request.source + ": must hold a list of {device, password, settings}; nothing was sent";
        return job;
    }
    // Every entry is checked before anything is sent.
    std::vector<entry> plan;
    size_t valid = 0;
    for (const json &item : request.entries) {
        plan.push_back(read_entry(item, request.password));
        if (plan.back().error.empty()) ++valid;
    }
    finder f(ctx, request.family);
    auto name_of = [&](size_t i) {
        return plan[i].device.empty() ? "entry " + std::to_string(i + 1) : plan[i].device;
    };
    run_devices(ctx, job, plan.size(), name_of, [&](size_t i) {
        const entry &e = plan[i];
        if (!e.error.empty()) {
            device_row row;
            row.name = name_of(i);
            row.code = exit_refused;
            row.detail = e.error + "; nothing was sent to it";
            return row;
        }
        auto planner = [&](const target &t, assignments &changes, std::string &error) {
            if (plan_changes(e.source, t, false, changes, error) == exit_ok) return exit_ok;
            error += "; nothing was written";
            return exit_refused;
        };
        device_row row = change_row(ctx, e.device, f, nullptr, planner, e.password, request.dry_run,
                                    request.force, "apply");
        if (row.code == exit_ok) {
            row.detail = row.differences.empty() ? "no change" : "";
            for (const difference &d : row.differences)
                row.detail += (row.detail.empty() ? "" : "; ") + d.text();
            if (request.dry_run && !row.differences.empty())
                row.detail = "would change " + row.detail;
        }
        return row;
    });
    job.incomplete = f.incomplete();
    // Nothing was sent at all when no entry passed its checks.
    job.code = valid == 0 && !job.interrupted ? exit_refused : batch_code(job);
    return job;
}

job_result quick_setting(const context &ctx, const quick_request &request) {
    job_result job;
    job.batch = request.which.batch();
    const field &f = quick_field(request.setting);
    const json value = typed_value(f, request.value);
    finder finds(ctx, request.which.family);
    if (!job.batch) {
        device_row row;
        row.name = request.which.devices.front();
        target t;
        row.code = finds.find(row.name, t, row.detail);
        if (row.code == exit_ok) row.code = finds.look_for_others(t, row.detail);
        if (row.code == exit_ok) row = quick_row(ctx, request, f, value, t);
        job.code = row.code;
        job.rows.push_back(row);
        return job;
    }
    std::vector<wanted> devices;
    if (!gather(request.which, finds, devices, job)) return job;
    if (std::string why = mixed_parity_code(f, value, devices); !why.empty()) {
        job.code = exit_refused;
        job.error = why;
        return job;
    }
    run_devices(
        ctx, job, devices.size(), [&](size_t i) { return devices[i].name; },
        [&](size_t i) {
            wanted w = devices[i];
            if (w.code == exit_ok) w.code = finds.look_for_others(w.device, w.error);
            return w.code != exit_ok ? missing_row(w) : quick_row(ctx, request, f, value, w.device);
        });
    job.incomplete = finds.incomplete();
    job.code = batch_code(job);
    return job;
}

}  // namespace kxtool
