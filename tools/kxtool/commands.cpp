#include "commands.h"

#include <fmt/core.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "adapters.h"
#include "batch.h"
#include "change.h"
#include "device.h"

namespace kxtool {
namespace {

using nlohmann::json;

// Several devices, or all of them: a result table at the end.
bool is_batch(const options &o) {
    return o.all || o.devices.size() > 1 || (o.family != nullptr && o.devices.empty()) ||
           !o.dir.empty();
}

// One device a command was asked for: found, or why not.
struct wanted {
    std::string name;
    target device;
    int code = exit_ok;
    std::string error;
};

// The devices named, or every one (of the --family) when none is. exit_ok,
// or the code of a search that listed nothing (reported).
int gather(const options &o, finder &f, std::vector<wanted> &out) {
    if (o.devices.empty()) {
        std::vector<target> every;
        std::string error;
        if (const int code = f.every(every, error); code != exit_ok) {
            complain(error);
            return code;
        }
        if (every.empty()) {
            complain("no device answered the search");
            return exit_not_found;
        }
        for (const target &t : every) out.push_back({label(t), t, exit_ok, {}});
        return exit_ok;
    }
    for (const std::string &name : o.devices) {
        wanted w{name, {}, exit_ok, {}};
        w.code = f.find(name, w.device, w.error);
        if (w.code == exit_ok) w.name = label(w.device);
        out.push_back(w);
    }
    return exit_ok;
}

// The one device a command names; exit_ok, or the exit code (reported).
int find_one(const options &o, finder &f, target &t) {
    std::string error;
    const int code = f.find(o.devices.front(), t, error);
    if (code != exit_ok) complain(error);
    return code;
}

// Log in, read, log out: exit_ok, or the exit code and why not.
int read_settings(const target &t, const std::string &password, kx_settings_record &settings,
                  std::string &error) {
    if (error = password_refusal(*family_by_code(t.record.family), password); !error.empty()) {
        error = label(t) + ": " + error + "; nothing was sent to it";
        return exit_refused;
    }
    session s(t);
    const bool read = s.login(password) && s.read(settings);
    s.close();
    error = s.error();
    return read && error.empty() ? exit_ok : exit_failed;
}

void print_table(const kx_settings_record &settings) {
    for (const field &f : settings_fields())
        fmt::print("{} = {}\n", f.name, value_text(settings, f));
}

bool read_json_file(const std::string &path, json &out) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        complain(path + " is a directory, not a JSON file; nothing was sent");
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (in) text << in.rdbuf();
    if (!in) {
        complain("cannot read " + path + "; nothing was sent");
        return false;
    }
    out = json::parse(text.str(), nullptr, false);
    if (out.is_discarded()) {
        complain(path + " is not valid JSON; nothing was sent");
        return false;
    }
    return true;
}

// What a search lists, checked at the address listed: whether the device
// answers there, the address it is configured with, and its firmware.
struct probe {
    bool answers = false;
    std::string configured;
    std::string firmware;
};

probe probe_device(const kx_device_record &d) {
    probe p;
    const std::string listed = configured_address(d);
    kx_device_record answer{};
    p.answers = answers_at(listed, d, answer);
    p.configured = p.answers ? configured_address(answer) : listed;
    p.firmware = shown_text(d.firmware_version, sizeof d.firmware_version);
    if (p.answers && p.firmware.empty())
        p.firmware = shown_text(answer.firmware_version, sizeof answer.firmware_version);
    if (p.answers && p.firmware.empty()) {
        // A search answer without the firmware version (family A's): a read
        // has it, and needs no login.
        kx_settings_record settings{};
        const int32_t read = traced("kx_read_setting " + listed, [&] {
            return kx_read_setting(listed.c_str(), d.device_id, &settings, &d);
        });
        if (read == KX_OK)
            p.firmware = shown_text(settings.firmware_version, sizeof settings.firmware_version);
    }
    return p;
}

struct outcome {
    int code;
    std::string text;  // the value kept, or why not
};

// One quick setting (no login), then a login to read it back.
outcome quick_setting(const std::string &name, const field &f, const json &value,
                      const std::string &given, const target &t, const std::string &password) {
    const family_traits &family = *family_by_code(t.record.family);
    const std::string who = label(t);
    if (std::string why = refusal(f, value, &family); !why.empty())
        return {exit_refused,
                who + ": " + name + " " + given + ": " + why + "; nothing was sent to it"};
    if (std::string why = password_refusal(family, password); !why.empty())
        return {exit_refused, who + ": " + why + " (for the read-back); nothing was sent to it"};
    uint32_t argument = code_of(f, value, family).value_or(0);
    // A family whose quick setter numbers parity its own way carries only
    // the codes it has a number for.
    const bool own_parity = &f == find_field("parity") && !family.quick_parity.empty();
    if (own_parity && argument >= family.quick_parity.size())
        return {exit_refused,
                fmt::format("{}: the quick setting of a family {} device carries parity codes 0 "
                            "to {} only; nothing was sent to it",
                            who, family.letter, family.quick_parity.size() - 1)};
    if (own_parity) argument = family.quick_parity[argument];
    // A quick setting carries no identifier: it changes whichever device
    // answers at the address, so that must be this one.
    target checked = t;
    kx_device_record answer{};
    if (!checked.answered && !answers_at(checked.address, checked.record, answer))
        return {exit_failed,
                who + " does not answer as itself at " +
                    (checked.address.empty() ? "its configured address" : checked.address) +
                    ", and a quick setting carries no identifier: it would change whichever "
                    "device answers there. Nothing was sent to it (name the address it answers "
                    "at)"};
    checked.answered = true;
    const char *address = checked.address.c_str();
    const void *record = &checked.record;
    const std::string call = name == "databits" ? "kx_setting_databit" : "kx_setting_" + name;
    const int32_t result = traced(call + " " + who, [&] {
        return name == "baud"     ? kx_setting_baud(address, argument, record)
               : name == "parity" ? kx_setting_parity(address, argument, record)
                                  : kx_setting_databit(address, argument, record);
    });
    if (result != KX_OK) return {exit_failed, failure_text(who, name + " setting", result)};
    const change_outcome r = read_back(checked, password, {{&f, value}});
    if (r.code != exit_ok) return {r.code, r.error};
    return {exit_ok, std::string(f.name) + " = " + value_text(r.kept, f)};
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

std::string nothing_answered() {
    uint32_t local = 0;
    std::string error;
    if (!limited_broadcast_route(local, error))
        return "no device answered the search: 255.255.255.255 has no route (" + error +
               "), so the search left by no adapter; kxtool doctor lists the adapters";
    return "no device answered the search (kxtool doctor checks the adapters, the port and the "
           "search on each)";
}

}  // namespace

int search_command(const options &o) {
    const search_result found = full_search();
    if (!found.listed()) {
        complain(found.problem);
        return exit_failed;
    }
    if (found.devices.empty()) {
        complain(nothing_answered());
        return found.incomplete() ? exit_incomplete : exit_not_found;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    std::vector<std::vector<std::string>> rows;
    for (const kx_device_record &d : found.devices) {
        const probe p = probe_device(d);
        const std::string listed = configured_address(d);
        std::string note;
        if (!p.answers)
            note = "does not answer at this address (changed, not yet restarted?)";
        else if (p.configured != listed)
            note = "configured with " + p.configured;
        nlohmann::ordered_json one = device_json(d);
        one["firmware_version"] = p.firmware;
        one["answers"] = p.answers;
        if (p.configured != listed) one["configured_address"] = p.configured;
        list.push_back(one);
        rows.push_back({family_letter(d.family), shown_text(listed.c_str(), listed.size()),
                        identifier_text(d.device_id),
                        shown_text(d.device_name, sizeof d.device_name),
                        std::to_string(d.local_port), p.firmware, note});
    }
    if (o.as_json) {
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
    if (found.incomplete()) {
        complain("warning: " + found.problem);
        return exit_incomplete;
    }
    return exit_ok;
}

int show_command(const options &o, bool save) {
    if (!o.dir.empty()) {
        std::error_code error;
        std::filesystem::create_directories(o.dir, error);
        if (!std::filesystem::is_directory(o.dir)) {
            complain("--dir " + o.dir + " is not a directory that can be made; nothing was sent");
            return exit_refused;
        }
    }
    finder f(o.family);
    if (!is_batch(o)) {
        target t;
        if (const int code = find_one(o, f, t); code != exit_ok) return code;
        kx_settings_record settings;
        std::string error;
        if (const int code = read_settings(t, o.password, settings, error); code != exit_ok) {
            complain(error);
            return code;
        }
        if (save || o.as_json)
            fmt::print("{}\n", settings_json(settings, o.with_password).dump(2));
        else
            print_table(settings);
        return exit_ok;
    }

    std::vector<wanted> devices;
    if (const int code = gather(o, f, devices); code != exit_ok) return code;
    // Backups are named by identifier; a family letter keeps two devices of
    // different families with one identifier apart.
    std::map<std::string, int> same_identifier;
    for (const wanted &w : devices)
        if (w.code == exit_ok) ++same_identifier[identifier_text(w.device.record.device_id)];
    batch results(o.as_json, devices.size());
    for (const wanted &w : devices) {
        results.progress(w.name);
        if (w.code != exit_ok) {
            results.add(nullptr, w.name, w.code, w.error);
            continue;
        }
        kx_settings_record settings;
        std::string error;
        if (const int code = read_settings(w.device, o.password, settings, error);
            code != exit_ok) {
            results.add(&w.device, w.name, code, error);
            continue;
        }
        const nlohmann::ordered_json values = settings_json(settings, o.with_password);
        if (!save) {
            if (!o.as_json) {
                fmt::print("# {}\n", w.name);
                print_table(settings);
                fmt::print("\n");
            }
            results.add(&w.device, w.name, exit_ok, "shown", {{"settings", values}});
            continue;
        }
        const std::string id = identifier_text(w.device.record.device_id);
        const std::string file =
            id +
            (same_identifier[id] > 1 ? std::string("-") + family_letter(settings.family) : "") +
            ".json";
        const std::string path = (std::filesystem::path(o.dir) / file).string();
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << values.dump(2) << "\n";
        out.close();
        if (out)
            results.add(&w.device, w.name, exit_ok, "saved to " + path, {{"file", path}});
        else
            results.add(&w.device, w.name, exit_failed, "cannot write " + path);
    }
    return results.finish(f.incomplete());
}

int set_command(const options &o) {
    assignments changes;
    std::string error;
    for (const std::string &a : o.assignments)
        if (!parse_assignment(a, changes, error)) {
            complain(error + "; nothing was sent");
            return exit_refused;
        }
    finder f(o.family);
    target t;
    if (const int code = find_one(o, f, t); code != exit_ok) return code;
    const change_outcome r = change_settings(t, o.password, changes, o.dry_run, o.force);
    if (o.dry_run && r.code == exit_ok) {
        for (const std::string &line : r.differences) fmt::print("{}\n", line);
        if (r.differences.empty()) fmt::print("no change\n");
    }
    if (r.code != exit_ok) {
        complain(r.error);
        return r.code;
    }
    if (!o.dry_run)
        for (const auto &[f, value] : changes)
            fmt::print("{} = {}\n", f->name, value_text(r.kept, *f));
    return exit_ok;
}

int restore_command(const options &o) {
    json backup;
    if (!read_json_file(o.file, backup)) return exit_refused;
    settings_source source;
    source.clone = o.clone;
    source.set = o.set;
    std::string error;
    if (!read_source(backup, source, error)) {
        complain(o.file + ": " + error + "; nothing was sent");
        return exit_refused;
    }
    if (!source.family || family_by_code(*source.family) == nullptr) {
        complain(o.file + ": " +
                 (source.family
                      ? "family " + std::to_string(*source.family) + " is no known family code"
                      : std::string("no family")) +
                 " (" + kxtools::family_codes() + "); nothing was sent");
        return exit_refused;
    }
    finder f(o.family);
    target t;
    if (const int code = find_one(o, f, t); code != exit_ok) return code;
    assignments changes;
    if (plan_changes(source, t, true, changes, error) != exit_ok) {
        complain(o.file + ": " + error + ". Nothing was written");
        return exit_refused;
    }
    const change_outcome r = change_settings(t, o.password, changes, o.dry_run, o.force);
    if (r.code != exit_ok) {
        complain(r.error);
        return r.code;
    }
    for (const std::string &line : r.differences) fmt::print("{}\n", line);
    std::string left;
    for (const auto &[f, value] : source.values)
        if (std::none_of(changes.begin(), changes.end(),
                         [&](const auto &c) { return c.first == f; }))
            left += (left.empty() ? "" : ", ") + std::string(f->name);
    if (!left.empty()) fmt::print("left as they are (identity of this device): {}\n", left);
    if (o.dry_run)
        fmt::print("{}: {} difference(s) from {}; nothing written\n", label(t),
                   r.differences.size(), o.file);
    else if (r.differences.empty())
        fmt::print("{}: already as in {}; nothing written\n", label(t), o.file);
    else
        fmt::print("{}: {} setting(s) restored from {}\n", label(t), r.differences.size(), o.file);
    return exit_ok;
}

int apply_command(const options &o) {
    json entries;
    if (!read_json_file(o.file, entries)) return exit_refused;
    if (!entries.is_array()) {
        complain(o.file + ": must hold a list of {device, password, settings}; nothing was sent");
        return exit_refused;
    }
    // Every entry is checked before anything is sent.
    struct entry {
        std::string device, password, error;
        settings_source source;
    };
    std::vector<entry> plan;
    size_t valid = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const json &item = entries[i];
        entry e;
        e.password = o.password;
        if (!item.is_object() || !item.contains("device") || !item["device"].is_string() ||
            !(valid_device_address(item["device"].get<std::string>()) ||
              valid_identifier(item["device"].get<std::string>()))) {
            e.error = "needs \"device\", an address or identifier text";
        } else {
            e.device = item["device"];
            for (const auto &[key, value] : item.items()) {
                if (key == "device" || key == "settings") continue;
                if (key == "password" && value.is_string() &&
                    value.get<std::string>().size() <= 10 &&
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
                                        (key == "password"
                                             ? "at most 10 printable characters without '|' or '/'"
                                         : key == "clone" ? "true or false"
                                                          : "a list of field names")
                                  : "unknown key " + key +
                                        " (an entry has device, password, settings, clone, set)";
            }
            if (e.error.empty())
                read_source(item.contains("settings") ? item["settings"] : json::object(), e.source,
                            e.error);
        }
        if (e.error.empty()) ++valid;
        plan.push_back(std::move(e));
    }

    finder f(o.family);
    batch results(o.as_json, plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
        const entry &e = plan[i];
        const std::string name = e.device.empty() ? "entry " + std::to_string(i + 1) : e.device;
        results.progress(name);
        if (!e.error.empty()) {
            results.add(nullptr, name, exit_refused, e.error + "; nothing was sent to it");
            continue;
        }
        target t;
        std::string error;
        if (const int code = f.find(e.device, t, error); code != exit_ok) {
            results.add(nullptr, name, code, error);
            continue;
        }
        assignments changes;
        if (plan_changes(e.source, t, false, changes, error) != exit_ok) {
            results.add(&t, label(t), exit_refused, error + "; nothing was written");
            continue;
        }
        const change_outcome r = change_settings(t, e.password, changes, o.dry_run, o.force);
        std::string detail = r.error;
        if (r.code == exit_ok) {
            detail = r.differences.empty() ? "no change" : "";
            for (const std::string &line : r.differences)
                detail += (detail.empty() ? "" : "; ") + line;
            if (o.dry_run && !r.differences.empty()) detail = "would change " + detail;
        }
        results.add(&t, label(t), r.code, detail);
    }
    const int code = results.finish(f.incomplete());
    // Nothing was sent at all when no entry passed its checks.
    return valid == 0 ? exit_refused : code;
}

int quick_command(const std::string &name, const options &o) {
    const field &f = *find_field(name == "baud"     ? "baud_rate"
                                 : name == "parity" ? "parity"
                                                    : "data_bits");
    const json value = typed_value(f, o.value);
    finder finds(o.family);
    if (!is_batch(o)) {
        target t;
        if (const int code = find_one(o, finds, t); code != exit_ok) return code;
        const outcome r = quick_setting(name, f, value, o.value, t, o.password);
        if (r.code != exit_ok) {
            complain(r.text);
            return r.code;
        }
        fmt::print("{}: {}\n", label(t), r.text);
        return exit_ok;
    }
    std::vector<wanted> devices;
    if (const int code = gather(o, finds, devices); code != exit_ok) return code;
    if (const std::string why = mixed_parity_code(f, value, devices); !why.empty()) {
        complain(why);
        return exit_refused;
    }
    batch results(o.as_json, devices.size());
    for (const wanted &w : devices) {
        results.progress(w.name);
        if (w.code != exit_ok) {
            results.add(nullptr, w.name, w.code, w.error);
            continue;
        }
        const outcome r = quick_setting(name, f, value, o.value, w.device, o.password);
        results.add(&w.device, w.name, r.code, r.text);
    }
    return results.finish(finds.incomplete());
}

}  // namespace kxtool
