// Changing a device's settings: what a command, a backup or an apply entry
// asks to write, the identity rule that keeps one device's address and name
// off another, and the write itself, previewed or read back and compared.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device.h"
#include "fields.h"

namespace kxtool {

// Fields and the values to give them, as written (numbers, codes or words).
using assignments = std::vector<std::pair<const field *, nlohmann::json>>;

// KEY=VALUE from the command line; error says why not.
bool parse_assignment(const std::string &text, assignments &out, std::string &error);

// The settings a backup or an apply entry holds, checked against every family.
struct settings_source {
    assignments values;                    // its writable fields
    std::optional<uint32_t> family;        // its "family", if any
    std::optional<std::string> device_id;  // its "device_id", if any
    // A backup of one device restored onto another: allowed only as a clone,
    // which leaves the identity fields as they are unless named in `set`.
    bool clone = false;
    std::vector<std::string> set;  // NAME (the source's value) or NAME=VALUE
};

// Reads a settings object; error names the first field that is no field or
// whose value fits no family, or a `set` entry that is not a field.
bool read_source(const nlohmann::json &settings, settings_source &out, std::string &error);

// What is written onto the device: the source's values by the identity rule.
// require_id: a source without a device_id counts as another device's (a
// backup); otherwise (an apply entry) it names explicit changes.
// exit_ok, or exit_refused with the reason in error.
int plan_changes(const settings_source &source, const target &device, bool require_id,
                 assignments &out, std::string &error);

// A field that changes (or would), as a table shows it.
struct difference {
    std::string field;
    std::string before, after;  // empty for a secret field
    bool secret = false;

    // "parity: none -> even", or "password: changes (not shown)".
    std::string text() const;
};

// The writable fields that differ between two reads of a device.
std::vector<difference> differences(const kx_settings_record &before,
                                    const kx_settings_record &after);

struct change_outcome {
    int code = exit_ok;
    std::string error;
    std::vector<difference> differences;  // one per field that changes (or would)
    kx_settings_record kept{};            // as read back (dry run: as read)
};

// Log in, read, apply the changes; then, unless a dry run, write when
// anything changes, read back and compare every writable field; log out.
// Values that do not fit the device's family are refused before the login,
// and so is a new ip_address at which another device answers, unless force.
// command names the change for the context's observer.
change_outcome change_settings(const context &ctx, const target &device,
                               const std::string &password, const assignments &changes,
                               bool dry_run, bool force, std::string_view command);

// Reads the settings after a write made outside a settings write (the
// quick settings), logging in first where the session has not, compared
// with what was wanted for each field given; logs out.
change_outcome read_back(const context &ctx, session &s, const std::string &password,
                         const assignments &wanted, std::string_view command);

}  // namespace kxtool
