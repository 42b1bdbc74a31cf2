#include "change.h"

#include <fmt/core.h>

#include <algorithm>

#include "addresses.h"

namespace kxtool {
namespace {

bool already_given(const assignments &list, const field *f) {
    return std::any_of(list.begin(), list.end(), [f](const auto &a) { return a.first == f; });
}

// A family's own limits, before anything is sent to the device.
std::string family_refusal(const family_traits &family, const std::string &password,
                           const assignments &changes) {
    if (std::string why = password_refusal(family, password); !why.empty()) return why;
    for (const auto &[f, value] : changes)
        if (const std::string why = refusal(*f, value, &family); !why.empty())
            return std::string(f->name) + "=" + value.dump() + ": " + why;
    return {};
}

// The fields the device did not keep, or an empty text.
std::string not_kept(const std::string &device, const kx_settings_record &wanted,
                     const kx_settings_record &kept) {
    std::string text;
    for (const field &f : settings_fields()) {
        if (!f.writable || value_json(kept, f) == value_json(wanted, f)) continue;
        text += text.empty() ? device + " did not keep what was written: " : "; ";
        text += f.secret ? std::string(f.name) + " differs (not shown)"
                         : fmt::format("{} is {}, {} was written", f.name, value_text(kept, f),
                                       value_text(wanted, f));
    }
    return text;
}

// Whether a new ip_address is where another device answers: two devices
// with one address reach neither. Empty when not.
std::string address_taken(const context &ctx, const target &device, const assignments &changes) {
    for (const auto &[f, value] : changes) {
        if (std::string(f->name) != "ip_address" || !value.is_string()) continue;
        const std::string address = value;
        if (address == configured_address(device.record) || !valid_device_address(address))
            return {};
        kx_device_record other{};
        if (search_at(ctx, address, other) != KX_OK || same_device(other, device.record)) return {};
        return fmt::format(
            "ip_address={}: another device answers there ({} {}, configured with {}); two "
            "devices with one address reach neither (--force writes it all the same)",
            address, family_letter(other.family), identifier_text(other.device_id),
            configured_address(other));
    }
    return {};
}

// Why the changes would lose the device (addresses, mask, gateway), or empty.
std::string lost_device(const kx_settings_record &current, const kx_settings_record &wanted) {
    std::string error;
    const std::vector<adapter> host = list_adapters(error);
    for (const field &f : settings_fields()) {
        if (f.type != kind::address || value_json(current, f) == value_json(wanted, f)) continue;
        const std::string value = value_json(wanted, f);
        if (std::string why = lost_address(f.name, value, host); !why.empty())
            return std::string(f.name) + "=" + value + ": " + why;
    }
    return lost_in_subnet(current, wanted, host);
}

}  // namespace

std::vector<difference> differences(const kx_settings_record &before,
                                    const kx_settings_record &after) {
    std::vector<difference> found;
    for (const field &f : settings_fields()) {
        if (!f.writable || value_json(before, f) == value_json(after, f)) continue;
        if (f.secret)
            found.push_back({f.name, {}, {}, true});
        else
            found.push_back({f.name, value_text(before, f), value_text(after, f), false});
    }
    return found;
}

std::string difference::text() const {
    return secret ? field + ": changes (not shown)" : field + ": " + before + " -> " + after;
}

bool parse_assignment(const std::string &text, assignments &out, std::string &error) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) {
        error = "not KEY=VALUE: " + text;
        return false;
    }
    const field *f = find_field(text.substr(0, eq));
    if (f == nullptr) {
        error = unknown_field_text(text.substr(0, eq));
        return false;
    }
    const nlohmann::json value = typed_value(*f, text.substr(eq + 1));
    if (const std::string why = refusal(*f, value, nullptr); !why.empty()) {
        error = text + ": " + why;
        return false;
    }
    if (already_given(out, f)) {
        error = std::string(f->name) + " given twice";
        return false;
    }
    out.emplace_back(f, value);
    return true;
}

bool read_source(const nlohmann::json &settings, settings_source &out, std::string &error) {
    if (!settings.is_object()) {
        error = "settings must be a JSON object";
        return false;
    }
    for (const auto &[name, value] : settings.items()) {
        const field *f = find_field(name);
        if (f == nullptr) {
            error = unknown_field_text(name);
            return false;
        }
        if (f->type == kind::family) {
            if (!value.is_number_unsigned() || value.get<uint64_t>() > UINT32_MAX) {
                error = "family must be a family code (" + kxtools::family_codes() + ")";
                return false;
            }
            out.family = value.get<uint32_t>();
            continue;
        }
        if (f->type == kind::identifier) {
            if (!value.is_string() || !valid_identifier(value.get<std::string>())) {
                error = "device_id must be an identifier text such as 0.16.10.0.0.1";
                return false;
            }
            out.device_id = value.get<std::string>();
            continue;
        }
        if (!f->writable) continue;  // the firmware version is a fact, not a setting
        if (const std::string why = refusal(*f, value, nullptr); !why.empty()) {
            error = std::string(f->name) + "=" + value.dump() + ": " + why;
            return false;
        }
        if (already_given(out.values, f)) {
            error = std::string(f->name) + " given twice";
            return false;
        }
        out.values.emplace_back(f, value);
    }
    for (const std::string &named : out.set) {
        assignments scratch;
        const bool with_value = named.find('=') != std::string::npos;
        if (with_value ? !parse_assignment(named, scratch, error) : find_field(named) == nullptr) {
            if (!with_value) error = "--set: " + unknown_field_text(named);
            return false;
        }
    }
    return true;
}

int plan_changes(const settings_source &source, const target &device, bool require_id,
                 assignments &out, std::string &error) {
    const uint8_t family = device.record.family;
    if (source.family && *source.family != family) {
        error = fmt::format("it holds the settings of a family {} device ({}); {} is family {}",
                            family_letter(*source.family), *source.family, label(device),
                            family_letter(family));
        return exit_refused;
    }
    const std::string id = identifier_text(device.record.device_id);
    const bool same_device = source.device_id ? *source.device_id == id : !require_id;
    if (!same_device && !source.clone) {
        // A backup comes with restore's options, an apply entry with its own keys.
        error = fmt::format(
            "it holds the settings of {}, not of {}; writing them would copy that device's "
            "identity fields ({}) onto this one: {}",
            source.device_id ? "device " + *source.device_id : "another device (no device_id)",
            label(device), identity_names(),
            require_id ? "add --clone to copy the other settings (and --set FIELD for each "
                         "identity field to copy too)"
                       : "give the entry \"clone\": true to copy the other settings (and \"set\": "
                         "[\"FIELD\"] for each identity field to copy too)");
        return exit_refused;
    }
    out.clear();
    for (const auto &[f, value] : source.values) {
        const bool named =
            std::find(source.set.begin(), source.set.end(), f->name) != source.set.end();
        if (same_device || !f->identity || named) out.emplace_back(f, value);
    }
    // --set NAME=VALUE gives its own value, whatever the source holds.
    for (const std::string &named : source.set) {
        if (named.find('=') == std::string::npos) continue;
        assignments given;
        std::string ignored;
        if (!parse_assignment(named, given, ignored)) continue;  // read_source checked it
        std::erase_if(out, [&](const auto &a) { return a.first == given.front().first; });
        out.push_back(given.front());
    }
    return exit_ok;
}

change_outcome change_settings(const context &ctx, const target &device,
                               const std::string &password, const assignments &changes,
                               bool dry_run, bool force, std::string_view command) {
    change_outcome outcome;
    const family_traits &family = *family_by_code(device.record.family);
    std::string why = family_refusal(family, password, changes);
    if (why.empty() && !force) why = address_taken(ctx, device, changes);
    if (!why.empty()) {
        outcome.code = exit_refused;
        outcome.error = label(device) + ": " + why + "; nothing was sent to it";
        return outcome;
    }
    if (ctx.stopping()) {
        outcome.code = exit_interrupted;
        outcome.error = "interrupted: nothing was sent to " + label(device);
        return outcome;
    }
    session s(ctx, device);
    if (!dry_run) s.abandon_half_writes();
    kx_settings_record current;
    if (!s.login(password) || !s.read(current)) {
        s.close();
        outcome.code = exit_failed;
        outcome.error = s.error();
        return outcome;
    }
    kx_settings_record wanted = current;
    for (const auto &[f, value] : changes) put_value(wanted, *f, value, family);
    outcome.differences = differences(current, wanted);
    outcome.kept = current;
    if (std::string lost = force ? std::string() : lost_device(current, wanted); !lost.empty()) {
        s.close();
        outcome.code = exit_refused;
        outcome.error = s.label() + ": " + lost +
                        " (--force writes it all the same); nothing was written to it";
        return outcome;
    }
    if (dry_run || outcome.differences.empty()) {
        if (!s.close()) outcome.code = exit_failed;
        outcome.error = s.error();
        return outcome;
    }
    if (ctx.stopping()) {
        // Not begun, so not started: the device keeps what it had.
        s.close();
        outcome.code = exit_interrupted;
        outcome.error = "interrupted before the write; nothing was written to " + label(device);
        return outcome;
    }
    if (!s.write(wanted)) {
        s.close();
        outcome.code = exit_failed;
        outcome.error = s.error();
        ctx.watcher().change_written(device, command, &current, nullptr, outcome.code,
                                     outcome.error);
        return outcome;
    }
    const field &address = *find_field("ip_address");
    if (value_json(wanted, address) != value_json(current, address))
        s.readdressed(value_json(wanted, address).get<std::string>());
    if (!s.read(outcome.kept)) {
        s.close();
        outcome.code = exit_failed;
        outcome.error = "the write was sent, but " + s.error();
        ctx.watcher().change_written(device, command, &current, nullptr, outcome.code,
                                     outcome.error);
        return outcome;
    }
    outcome.error = not_kept(s.label(), wanted, outcome.kept);
    if (!s.close() && outcome.error.empty()) outcome.error = s.error();
    if (!outcome.error.empty()) outcome.code = exit_failed;
    ctx.watcher().change_written(device, command, &current, &outcome.kept, outcome.code,
                                 outcome.error);
    return outcome;
}

change_outcome read_back(const context &ctx, session &s, const std::string &password,
                         const assignments &changes, std::string_view command) {
    change_outcome outcome;
    const target &device = s.device();
    if ((!s.logged_in() && !s.login(password)) || !s.read(outcome.kept)) {
        s.close();
        outcome.code = exit_failed;
        outcome.error = "the change was sent, but reading it back failed: " + s.error();
        ctx.watcher().change_written(device, command, nullptr, nullptr, outcome.code,
                                     outcome.error);
        return outcome;
    }
    kx_settings_record wanted = outcome.kept;
    for (const auto &[f, value] : changes)
        put_value(wanted, *f, value, *family_by_code(device.record.family));
    outcome.error = not_kept(s.label(), wanted, outcome.kept);
    if (!s.close() && outcome.error.empty()) outcome.error = s.error();
    if (!outcome.error.empty()) outcome.code = exit_failed;
    ctx.watcher().change_written(device, command, nullptr, &outcome.kept, outcome.code,
                                 outcome.error);
    return outcome;
}

}  // namespace kxtool
