// kxtool: finds, backs up, configures and restores device servers on the
// local network from the command line, through the library's exported
// functions only. stdout carries the data alone (tables or JSON); the
// library call trace (-v), progress and failures go to stderr.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define kxtool_isatty _isatty
#define kxtool_fileno _fileno
#else
#include <unistd.h>
#define kxtool_isatty isatty
#define kxtool_fileno fileno
#endif

#include "device.h"
#include "fields.h"
#include "kxconf.h"

namespace {

using namespace kxtool;
using nlohmann::json;

const char *const exit_codes_text =
    "Exit codes: 0 success; 1 a device operation failed or a device did not keep a value\n"
    "(apply: any device failed); 2 usage error or a value refused before anything was sent;\n"
    "3 no device answered the search as DEVICE.\n"
    "DEVICE is a device's address (10.1.0.7) or identifier (0.16.10.0.0.1).";

// ---- Command-line checks ------------------------------------------------------

const CLI::Validator device_text(
    [](const std::string &text) -> std::string {
        if (valid_address(text) || valid_identifier(text)) return {};
        return "not an address (a.b.c.d) or identifier (a.b.c.d.e.f), each part 0 to 255 "
               "without leading zeros: " +
               text;
    },
    "DEVICE");

const CLI::Validator password_text(
    [](const std::string &text) -> std::string {
        if (text.size() <= 10 && valid_setting_text(text)) return {};
        return "at most 10 printable characters without '|' or '/'";
    },
    "PW");

// KEY=VALUE with a writable field and a value that fits either family.
std::string assignment_refusal(const std::string &text) {
    const size_t eq = text.find('=');
    if (eq == std::string::npos) return "not KEY=VALUE: " + text;
    const field *f = find_field(text.substr(0, eq));
    if (f == nullptr) return "unknown field: " + text.substr(0, eq);
    const std::string why = refusal(*f, typed_value(*f, text.substr(eq + 1)), 0);
    return why.empty() ? why : text + ": " + why;
}
const CLI::Validator assignment(assignment_refusal, "KEY=VALUE");

// ---- Shared steps ----------------------------------------------------------------

struct device_options {
    std::string device;
    std::string password;
    bool all_interfaces = false;
};

// kx_discover, then the wanted device; exit_ok or the exit code (reported).
int find(const device_options &o, kx_device_record &device) {
    std::string error;
    const int code = pick_device(discover(o.all_interfaces), o.device, device, error);
    if (code != exit_ok) complain(error);
    return code;
}

// The checks that need the device's family; before anything but the search
// is sent. Empty when every value fits.
std::string family_refusal(const kx_device_record &device, const std::string &password,
                           const std::vector<std::pair<const field *, json>> &changes) {
    if (device.family == KX_FAMILY_A && password.size() > 9)
        return "password: a family A device takes at most 9 characters";
    for (const auto &[f, value] : changes)
        if (const std::string why = refusal(*f, value, device.family); !why.empty())
            return std::string(f->name) + "=" + value.dump() + ": " + why;
    return {};
}

// Log in, read, change, write, read back; reports each field the device did
// not keep. exit_ok, exit_failed or exit_refused; kept holds the read-back.
int change_settings(const device_options &o, const kx_device_record &device,
                    const std::vector<std::pair<const field *, json>> &changes,
                    kx_settings_record &kept) {
    if (const std::string why = family_refusal(device, o.password, changes); !why.empty()) {
        complain(device_label(device) + ": " + why + "; nothing was sent to it");
        return exit_refused;
    }
    session s(device);
    kx_settings_record wanted;
    if (!s.login(o.password) || !s.read(wanted)) return exit_failed;
    for (const auto &[f, value] : changes) put_value(wanted, *f, value);
    if (!s.write(wanted)) return exit_failed;
    if (std::strncmp(wanted.ip_address, device.ip_address, sizeof wanted.ip_address) != 0)
        s.follow_by_broadcast();
    if (!s.read(kept)) return exit_failed;
    int code = exit_ok;
    for (const auto &[f, value] : changes) {
        if (value_json(kept, *f) == value_json(wanted, *f)) continue;
        complain(fmt::format("{}: {} is {} after the write; {} was written", s.label(), f->name,
                             value_text(kept, *f), value_text(wanted, *f)));
        code = exit_failed;
    }
    if (!s.close()) code = exit_failed;
    return code;
}

// ---- Commands --------------------------------------------------------------------

int search_command(bool all_interfaces, bool as_json) {
    const discovery found = discover(all_interfaces);
    if (found.result != KX_OK && found.result != KX_E_CAPACITY) {
        complain(found.error);
        return exit_failed;
    }
    if (as_json) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const kx_device_record &d : found.devices) list.push_back(device_json(d));
        fmt::print("{}\n", list.dump(2));
    } else if (!found.devices.empty()) {
        fmt::print("{:<6} {:<15} {:<23} {:<10} {:>5} {}\n", "family", "address", "identifier",
                   "name", "port", "firmware");
        for (const kx_device_record &d : found.devices)
            fmt::print("{:<6} {:<15} {:<23} {:<10} {:>5} {}\n", family_letter(d.family),
                       shown_text(d.ip_address, sizeof d.ip_address), id_text(d.device_id),
                       shown_text(d.device_name, sizeof d.device_name), d.local_port,
                       shown_text(d.firmware_version, sizeof d.firmware_version));
    } else {
        complain("no device answered the search");
    }
    if (!found.error.empty()) {
        complain(found.error);
        return exit_failed;
    }
    return exit_ok;
}

// show and save: every setting, as a table or as JSON.
int show_command(const device_options &o, bool as_json) {
    kx_device_record device;
    if (const int code = find(o, device); code != exit_ok) return code;
    if (const std::string why = family_refusal(device, o.password, {}); !why.empty()) {
        complain(device_label(device) + ": " + why + "; nothing was sent to it");
        return exit_refused;
    }
    session s(device);
    kx_settings_record settings;
    if (!s.login(o.password) || !s.read(settings)) return exit_failed;
    if (as_json) {
        fmt::print("{}\n", settings_json(settings).dump(2));
    } else {
        for (const field &f : settings_fields())
            fmt::print("{} = {}\n", f.name, value_text(settings, f));
    }
    return s.close() ? exit_ok : exit_failed;
}

int set_command(const device_options &o, const std::vector<std::string> &assignments) {
    std::vector<std::pair<const field *, json>> changes;
    for (const std::string &a : assignments) {
        const size_t eq = a.find('=');
        const field *f = find_field(a.substr(0, eq));
        for (const auto &earlier : changes)
            if (earlier.first == f) {
                complain(std::string(f->name) + " given twice; nothing was sent");
                return exit_refused;
            }
        changes.emplace_back(f, typed_value(*f, a.substr(eq + 1)));
    }
    kx_device_record device;
    if (const int code = find(o, device); code != exit_ok) return code;
    kx_settings_record kept;
    const int code = change_settings(o, device, changes, kept);
    if (code == exit_ok)
        for (const auto &[f, value] : changes)
            fmt::print("{} = {}\n", f->name, value_text(kept, *f));
    return code;
}

// The writable settings of a backup or an apply entry; empty error when
// every name is a field and every value fits either family.
std::vector<std::pair<const field *, json>> settings_changes(const json &settings,
                                                             std::string &error) {
    std::vector<std::pair<const field *, json>> changes;
    if (!settings.is_object()) {
        error = "settings must be a JSON object";
        return changes;
    }
    for (const auto &[name, value] : settings.items()) {
        const field *f = find_field(name);
        if (f == nullptr) {
            error = "unknown field " + name;
            return changes;
        }
        if (!f->writable) continue;  // family, identifier and firmware are facts
        if (const std::string why = refusal(*f, value, 0); !why.empty()) {
            error = name + "=" + value.dump() + ": " + why;
            return changes;
        }
        changes.emplace_back(f, value);
    }
    return changes;
}

bool read_json_file(const std::string &path, json &out) {
    std::ifstream in(path);
    if (!in) {
        complain("cannot open " + path);
        return false;
    }
    out = json::parse(in, nullptr, false);
    if (out.is_discarded()) {
        complain(path + " is not valid JSON");
        return false;
    }
    return true;
}

int restore_command(const device_options &o, const std::string &path) {
    json backup;
    if (!read_json_file(path, backup)) return exit_refused;
    std::string error;
    const auto changes = settings_changes(backup, error);
    if (!error.empty()) {
        complain(path + ": " + error + "; nothing was sent");
        return exit_refused;
    }
    if (!backup.contains("family") || !backup["family"].is_number_unsigned()) {
        complain(path + ": no family; nothing was sent");
        return exit_refused;
    }
    kx_device_record device;
    if (const int code = find(o, device); code != exit_ok) return code;
    if (backup["family"] != device.family) {
        complain(
            fmt::format("{} holds the settings of a family {} device; {} is family {}. "
                        "Nothing was written",
                        path, family_letter(backup["family"].get<uint8_t>()), device_label(device),
                        family_letter(device.family)));
        return exit_refused;
    }
    kx_settings_record kept;
    const int code = change_settings(o, device, changes, kept);
    if (code == exit_ok)
        fmt::print("{}: {} settings restored from {}\n", device_label(device), changes.size(),
                   path);
    return code;
}

bool stderr_is_terminal() { return kxtool_isatty(kxtool_fileno(stderr)) != 0; }

// Many devices, one after another: [{"device": ..., "password": ...,
// "settings": {...}}, ...]. An entry that fails a check is reported and
// nothing is sent to its device; the others go on.
int apply_command(const std::string &path, bool all_interfaces) {
    json entries;
    if (!read_json_file(path, entries)) return exit_refused;
    if (!entries.is_array()) {
        complain(path + ": must hold a list of {device, password, settings}; nothing was sent");
        return exit_refused;
    }
    const discovery found = discover(all_interfaces);
    if (found.result != KX_OK && found.result != KX_E_CAPACITY) {
        complain(found.error);
        return exit_failed;
    }
    const bool progress = stderr_is_terminal();
    int failed = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const json &entry = entries[i];
        device_options o;
        std::string error;
        std::vector<std::pair<const field *, json>> changes;
        if (!entry.is_object() || !entry.contains("device") || !entry["device"].is_string() ||
            !(valid_address(entry["device"].get<std::string>()) ||
              valid_identifier(entry["device"].get<std::string>()))) {
            error = "needs \"device\", an address or identifier text";
        } else {
            o.device = entry["device"];
            const json password = entry.value("password", json(""));
            if (!password.is_string() || password.get<std::string>().size() > 10 ||
                !valid_setting_text(password.get<std::string>()))
                error = "password: at most 10 printable characters without '|' or '/'";
            else
                o.password = password;
            if (error.empty()) changes = settings_changes(entry.value("settings", json()), error);
        }
        const std::string name = o.device.empty() ? "entry " + std::to_string(i + 1) : o.device;
        if (progress) std::fprintf(stderr, "[%zu/%zu] %s\n", i + 1, entries.size(), name.c_str());
        int code = exit_refused;
        kx_device_record device;
        kx_settings_record kept;
        if (!error.empty()) {
            complain(name + ": " + error + "; nothing was sent to it");
        } else if ((code = pick_device(found, o.device, device, error)) != exit_ok) {
            complain(error);
        } else {
            code = change_settings(o, device, changes, kept);
        }
        if (code != exit_ok) ++failed;
        fmt::print("{} {}\n", code == exit_ok ? "ok    " : "FAILED", name);
    }
    fmt::print("{} configured, {} failed\n", entries.size() - static_cast<size_t>(failed), failed);
    return failed == 0 ? exit_ok : exit_failed;
}

// baud, parity and databits: one quick setting, no login; the family decides
// which values the device carries.
int quick_command(const std::string &command, const device_options &o, uint32_t value) {
    const field &f = *find_field(command == "baud"     ? "baud_rate"
                                 : command == "parity" ? "parity"
                                                       : "data_bits");
    kx_device_record device;
    if (const int code = find(o, device); code != exit_ok) return code;
    std::string why = refusal(f, value, device.family);
    // The family A quick setter carries parity codes 0 to 4 only.
    if (why.empty() && command == "parity" && device.family == KX_FAMILY_A && value > 4)
        why = "out of range: a family A device takes 0 to 4";
    if (!why.empty()) {
        complain(fmt::format("{}: {} {}: {}; nothing was sent to it", device_label(device), command,
                             value, why));
        return exit_refused;
    }
    const std::string address = shown_text(device.ip_address, sizeof device.ip_address);
    int32_t result = 0;
    if (command == "baud") {
        result = traced("kx_setting_baud", kx_setting_baud(address.c_str(), value, &device));
    } else if (command == "parity") {
        // The family A quick setter numbers odd and even the other way round
        // from the device's own codes; the code given is the one show prints.
        if (device.family == KX_FAMILY_A && (value == 1 || value == 2)) value = 3 - value;
        result = traced("kx_setting_parity", kx_setting_parity(address.c_str(), value, &device));
    } else {
        result = traced("kx_setting_databit", kx_setting_databit(address.c_str(), value, &device));
    }
    if (result != KX_OK) {
        complain(failure_text(device_label(device), command + " setting", result));
        return exit_failed;
    }
    return exit_ok;
}

int crc_command(const std::string &text) {
    const int32_t crc =
        cal_crc(reinterpret_cast<const uint8_t *>(text.data()), static_cast<int32_t>(text.size()));
    fmt::print("0x{:04X}\n", static_cast<unsigned>(crc) & 0xFFFFu);
    return exit_ok;
}

// DEVICE, --password and --all-interfaces on a command that talks to one device.
void add_device_options(CLI::App *command, device_options &o, bool with_password = true) {
    command->add_option("DEVICE", o.device, "address or identifier of the device")
        ->required()
        ->check(device_text);
    if (with_password)
        command->add_option("--password", o.password, "login password (default: empty)")
            ->check(password_text);
    command->add_flag("--all-interfaces", o.all_interfaces,
                      "search behind every network interface, not only the default one");
}

}  // namespace

int main(int argc, char **argv) {
    CLI::App app{"kxtool: find, back up, configure and restore serial device servers"};
    app.footer(exit_codes_text);
    app.require_subcommand(1);
    app.fallthrough();
    bool verbose = false;
    app.add_flag("-v,--verbose", verbose, "trace every library call on stderr");

    bool as_json = false, all_interfaces = false;
    auto *search = app.add_subcommand("search", "list every device that answers the search");
    search->add_flag("--all-interfaces", all_interfaces,
                     "search behind every network interface, not only the default one");
    search->add_flag("--json", as_json, "a JSON list of device records");

    device_options o;
    auto *show = app.add_subcommand("show", "log in, read and print every setting, log out");
    add_device_options(show, o);
    show->add_flag("--json", as_json, "a JSON object of the settings");

    auto *save = app.add_subcommand("save", "print every setting as JSON, for restore");
    add_device_options(save, o);

    std::vector<std::string> assignments;
    auto *set = app.add_subcommand("set", "change settings: write them, read them back");
    add_device_options(set, o);
    set->add_option("KEY=VALUE", assignments, "a setting and its new value (show lists the keys)")
        ->required()
        ->check(assignment);

    std::string path;
    auto *restore = app.add_subcommand(
        "restore", "write the settings a save printed, read them back, report each difference");
    add_device_options(restore, o);
    restore->add_option("FILE", path, "JSON file written by save")->required();

    auto *apply = app.add_subcommand("apply",
                                     "configure many devices one after another from a JSON list of "
                                     "{\"device\", \"password\", \"settings\"}");
    apply->add_option("FILE", path, "the JSON list")->required();
    apply->add_flag("--all-interfaces", all_interfaces,
                    "search behind every network interface, not only the default one");

    uint32_t quick_value = 0;
    auto *baud = app.add_subcommand("baud", "set the serial speed at once, without login");
    add_device_options(baud, o, false);
    baud->add_option("BITS_PER_SECOND", quick_value)
        ->required()
        ->check(CLI::Validator(
            [](const std::string &t) -> std::string {
                uint32_t n = 0;
                return parse_number(t, n) && baud_fits(n, 0) ? "" : speeds_text();
            },
            "SPEED"));
    auto *parity = app.add_subcommand("parity", "set the parity code (as show prints it)");
    add_device_options(parity, o, false);
    parity->add_option("CODE", quick_value)->required()->check(CLI::Range(0, 255));
    auto *databits = app.add_subcommand("databits", "set the data bits (5 to 8)");
    add_device_options(databits, o, false);
    databits->add_option("BITS", quick_value)->required()->check(CLI::Range(5, 8));

    std::string text;
    auto *crc = app.add_subcommand("crc", "CRC-16 of the text's bytes, in hex");
    crc->add_option("TEXT", text)
        ->required()
        ->check(CLI::Validator(
            [](const std::string &t) -> std::string {
                // The CRC covers at most 65535 bytes; a longer text would be cut silently.
                return t.size() <= 65535 ? "" : "longer than 65535 bytes";
            },
            "TEXT"));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int code = app.exit(e);
        return code == 0 ? exit_ok : exit_refused;
    }
    set_verbose(verbose);

    if (search->parsed()) return search_command(all_interfaces, as_json);
    if (show->parsed()) return show_command(o, as_json);
    if (save->parsed()) return show_command(o, true);
    if (set->parsed()) return set_command(o, assignments);
    if (restore->parsed()) return restore_command(o, path);
    if (apply->parsed()) return apply_command(path, all_interfaces);
    if (baud->parsed()) return quick_command("baud", o, quick_value);
    if (parity->parsed()) return quick_command("parity", o, quick_value);
    if (databits->parsed()) return quick_command("databits", o, quick_value);
    if (crc->parsed()) return crc_command(text);
    return exit_refused;
}
