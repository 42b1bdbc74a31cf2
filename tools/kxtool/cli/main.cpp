// kxtool: finds, backs up, configures and restores device servers on the
// local network from the command line, through the library's exported
// functions only. This file is the command line: it parses the arguments,
// calls the core (core/core.h) and prints what it returns (print.h).
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "console/console.h"
#include "core/addresses.h"
#include "core/core.h"
#include "core/site.h"
#include "interrupt.h"
#include "print.h"

#ifndef KXTOOL_VERSION
#define KXTOOL_VERSION "unknown"
#endif

namespace {

using namespace kxtool;
using cli::complain;

// What the command line set, for whichever command was given.
struct options {
    std::vector<std::string> devices;       // DEVICE arguments
    bool all = false;                       // --all
    const family_traits *family = nullptr;  // --family
    std::string password;
    bool password_given = false;  // by any of its sources, even empty
    bool as_json = false;
    bool dry_run = false;
    bool force = false;  // set, restore, apply: write an address another device answers at
    bool with_password = false;
    std::string dir;   // save --dir
    std::string file;  // restore, diff, apply
    bool clone = false;
    std::vector<std::string> set;          // restore --set
    std::vector<std::string> assignments;  // set's KEY=VALUE
    std::string value;                     // the quick settings' value
    std::string name;                      // baseline save and check: the baseline's
    bool as_csv = false;                   // inventory
    size_t limit = SIZE_MAX;               // history
};

selection selected(const options &o) { return {o.devices, o.all, o.family}; }

// A single device's job: its data, or its failure.
int show_one(const job_result &job, const options &o, bool save) {
    if (job.code != exit_ok) return cli::print_failure(job);
    const kx_settings_record &settings = *job.rows.front().settings;
    if (save || o.as_json)
        fmt::print("{}\n", settings_json(settings, o.with_password).dump(2));
    else
        cli::print_settings(settings);
    return exit_ok;
}

int set_command(const context &ctx, const options &o) {
    set_request request{o.devices.front(), o.family, {}, o.password, o.dry_run, o.force};
    std::string error;
    for (const std::string &a : o.assignments)
        if (!parse_assignment(a, request.changes, error)) {
            complain(error + "; nothing was sent");
            return exit_refused;
        }
    const job_result job = set_settings(ctx, request);
    if (job.code != exit_ok) return cli::print_failure(job);
    const device_row &row = job.rows.front();
    if (o.dry_run) {
        for (const difference &d : row.differences) fmt::print("{}\n", d.text());
        if (row.differences.empty()) fmt::print("no change\n");
    } else {
        for (const auto &[f, value] : request.changes)
            fmt::print("{} = {}\n", f->name, value_text(*row.settings, *f));
    }
    return exit_ok;
}

int restore_command(const context &ctx, const options &o) {
    restore_request request;
    std::string error;
    if (!read_json_file(o.file, request.backup, error)) {
        complain(error + "; nothing was sent");
        return exit_refused;
    }
    request.device = o.devices.front();
    request.family = o.family;
    request.source = o.file;
    request.clone = o.clone;
    request.set = o.set;
    request.password = o.password;
    request.dry_run = o.dry_run;
    request.force = o.force;
    const job_result job = restore_settings(ctx, request);
    if (job.code != exit_ok) return cli::print_failure(job);
    const device_row &row = job.rows.front();
    for (const difference &d : row.differences) fmt::print("{}\n", d.text());
    std::string left;
    for (const std::string &name : row.left_alone) left += (left.empty() ? "" : ", ") + name;
    if (!left.empty()) fmt::print("left as they are (identity of this device): {}\n", left);
    if (o.dry_run)
        fmt::print("{}: {} difference(s) from {}; nothing written\n", row.name,
                   row.differences.size(), o.file);
    else if (row.differences.empty())
        fmt::print("{}: already as in {}; nothing written\n", row.name, o.file);
    else
        fmt::print("{}: {} setting(s) restored from {}\n", row.name, row.differences.size(),
                   o.file);
    return exit_ok;
}

int apply_command(const context &ctx, const options &o) {
    apply_request request;
    std::string error;
    if (!read_json_file(o.file, request.entries, error)) {
        complain(error + "; nothing was sent");
        return exit_refused;
    }
    request.source = o.file;
    request.family = o.family;
    request.password = o.password;
    request.dry_run = o.dry_run;
    request.force = o.force;
    const job_result job = apply_settings(ctx, request);
    if (!job.error.empty()) return cli::print_failure(job);
    cli::print_batch(job, o.as_json, false);
    return job.code;
}

int show_command(const context &ctx, const options &o, bool save) {
    read_request request{selected(o), o.password, o.dir, o.with_password};
    const job_result job = read_devices(ctx, request);
    if (!job.batch) return show_one(job, o, save);
    if (!job.error.empty()) return cli::print_failure(job);
    return cli::print_batch(job, o.as_json, !save);
}

int quick_command(const context &ctx, const std::string &name, const options &o) {
    const job_result job =
        quick_setting(ctx, {name, o.value, selected(o), o.password, o.password_given});
    if (!job.batch) {
        if (job.code != exit_ok) return cli::print_failure(job);
        fmt::print("{}: {}\n", job.rows.front().name, job.rows.front().detail);
        return exit_ok;
    }
    if (!job.error.empty()) return cli::print_failure(job);
    return cli::print_batch(job, o.as_json, false);
}

// The journal a command uses: opened (made where needed) unless
// --no-journal. A command that talks to devices goes on without it, warned;
// one that reads or keeps journal records cannot.
std::unique_ptr<journal> open_journal(const std::string &given, bool none, bool needed,
                                      journal::mode how) {
    std::string error = "--no-journal was given";
    std::string path = none || !given.empty() ? given : default_journal_path(error);
    std::unique_ptr<journal> opened =
        path.empty() || none ? nullptr : journal::open(path, how, error);
    if (opened == nullptr && needed) complain(error);
    if (opened == nullptr && !needed && !none)
        complain("warning: the journal cannot be used (" + error +
                 "); this command goes on and is not recorded");
    return opened;
}

int inventory_command(journal &j, const options &o) {
    const std::vector<journal_device> devices = j.inventory();
    if (!j.error().empty()) {
        complain(j.error());
        return exit_failed;
    }
    return cli::print_inventory(devices, o.as_json  ? cli::inventory_format::json
                                         : o.as_csv ? cli::inventory_format::csv
                                                    : cli::inventory_format::table);
}

int history_command(journal &j, const options &o) {
    const std::vector<journal_change> changes =
        j.history(o.devices.empty() ? std::string() : o.devices.front(),
                  o.family ? o.family->code : 0, o.limit);
    if (!j.error().empty()) {
        complain(j.error());
        return exit_failed;
    }
    return cli::print_history(changes, o.as_json);
}

int baseline_save_command(const context &ctx, journal &j, const options &o) {
    baseline taken;
    job_result job = take_baseline(ctx, {o.name, o.devices, o.password}, taken);
    if (!job.error.empty()) return cli::print_failure(job);
    // The table only when a device was not read: the summary says the rest.
    if (job.batch && !job.rows.empty() && job.code != exit_ok && job.code != exit_incomplete)
        cli::print_batch(job, false, false);
    if (job.code != exit_ok && job.code != exit_incomplete) {
        if (!job.batch) cli::print_failure(job);
        complain("baseline " + o.name + " not saved: every device it names must be read");
        return job.code;
    }
    if (!j.save_baseline(taken)) {
        complain("baseline " + o.name + " not saved: " + j.error());
        return exit_failed;
    }
    fmt::print("baseline {}: {} device(s) saved\n", o.name, taken.devices.size());
    return job.code;
}

int check_command(const context &ctx, journal &j, const options &o) {
    const std::optional<baseline> b = j.load_baseline(o.name);
    if (!b) {
        complain(j.error().empty() ? "no baseline " + o.name + " (kxtool baseline list)"
                                   : j.error());
        return exit_refused;
    }
    return cli::print_check(*b, check_baseline(ctx, *b, o.password), o.as_json);
}

std::string footer() {
    return "DEVICE is a device's address (10.1.0.7), asked directly, or its identifier\n"
           "(0.16.10.0.0.1), found by one search of every adapter.\n"
           "The password comes from --password, --password-file FILE or the environment\n"
           "variable KXCONF_PASSWORD, in that order; without one the login presents an empty one.\n"
           "Identity fields, which must differ from device to device on a network (" +
           identity_names() +
           "),\nare not copied by a clone unless named with --set.\n"
           "Exit codes: 0 success; 1 a device operation failed or a device did not keep a value\n"
           "(several devices: any failed); 2 usage error or a value refused before anything was\n"
           "sent; 3 no device answered; 4 the search may have missed devices; 130 interrupted\n"
           "(Ctrl-C, SIGTERM): the write under way completed, devices not begun were left as\n"
           "they were and are marked interrupted.";
}

const CLI::Validator device_text([](const std::string &text) { return device_text_refusal(text); },
                                 "DEVICE");

const CLI::Validator password_text(
    [](const std::string &text) -> std::string {
        if (password_text_refusal(text).empty()) return {};
        return text_limits(*find_field("password")) + ", printable, without '|' or '/'";
    },
    "PW");

const CLI::Validator assignment(
    [](const std::string &text) -> std::string {
        assignments scratch;
        std::string error;
        return parse_assignment(text, scratch, error) ? std::string() : error;
    },
    "KEY=VALUE");

// Where a command's password comes from, resolved after parsing.
struct password_source {
    std::string given, file;
    std::vector<CLI::Option *> given_options;  // one --password per command

    bool was_given() const {
        for (const CLI::Option *o : given_options)
            if (o->count() > 0) return true;
        return false;
    }
};

// The options every command that talks to devices shares.
struct shared {
    options o;
    password_source password;
    std::string family;
    bool all_interfaces = false;               // the default now; kept for scripts
    std::vector<std::string> ranges, targets;  // --range, --target
    uint32_t rate = 0;                         // --rate; 0: the library's default
};

// --range, --target and --rate: where the command's search looks, beyond a
// router.
void add_search_plan(CLI::App *command, shared &s) {
    command
        ->add_option("--range", s.ranges,
                     "search by asking every address of RANGE instead of broadcasting, for "
                     "devices beyond a router: CIDR (10.2.0.0/24, its hosts), FIRST-LAST "
                     "(10.2.0.5-10.2.0.40 or 10.2.0.5-40) or one address; several ranges "
                     "may be given, repeated or with commas; without DEVICE, every device "
                     "found")
        // One value each time, so that a command's own words after it stay its
        // own; the core splits a value at its commas.
        ->allow_extra_args(false);
    command
        ->add_option("--target", s.targets,
                     "search by a directed broadcast to ADDRESS, a remote subnet's broadcast "
                     "address (10.2.0.255), which a router passes on only when set to; "
                     "several may be given")
        ->allow_extra_args(false);
    command
        ->add_option("--rate", s.rate,
                     "requests a second that a --range search sends at most (default 5000)")
        // Refused as the user knows it before the core sees it; 0 stays "not given".
        ->check(CLI::Range(1u, KX_SWEEP_MOST_RATE));
}

void add_password(CLI::App *command, shared &s) {
    s.password.given_options.push_back(
        command->add_option("--password", s.password.given, "login password (default: empty)")
            ->check(password_text));
    command->add_option("--password-file", s.password.file,
                        "read the login password from the first line of FILE");
}

void add_family(CLI::App *command, shared &s, const std::string &what) {
    std::vector<std::string> letters;  // a, b, A, B
    for (const kxtools::family_traits &f : kxtools::families())
        letters.emplace_back(1, static_cast<char>(f.letter[0] | 0x20));
    for (const kxtools::family_traits &f : kxtools::families()) letters.emplace_back(f.letter);
    command->add_option("--family", s.family, what)->check(CLI::IsMember(letters));
}

void add_force(CLI::App *command, options &o) {
    command->add_flag("--force", o.force,
                      "write an address that would lose the device all the same: one another "
                      "device answers at, no device's address (0.0.0.0, broadcast, multicast, "
                      "reserved, the subnet's own), a mask that is no mask, or an address on none "
                      "of this host's subnets");
}

void add_interfaces_flag(CLI::App *command, shared &s) {
    command->add_flag("--all-interfaces", s.all_interfaces, "")->group("");
}

void add_batch(CLI::App *command, shared &s, bool json) {
    command->add_flag("--all", s.o.all, "every device that answers the search");
    add_family(command, s,
               "only devices of family " + kxtools::family_choices() +
                   " (alone: every one of that family)");
    if (json) command->add_flag("--json", s.o.as_json, "the results as a JSON list");
}

// The password's source, read and checked; empty when it is acceptable.
std::string resolve_password(const password_source &p, std::string &password, bool &given) {
    if (p.was_given() && !p.file.empty()) return "--password and --password-file: give one";
    const char *env = std::getenv("KXCONF_PASSWORD");
    given = p.was_given() || !p.file.empty() || env != nullptr;
    if (!p.file.empty()) {
        if (std::string error; !read_password_file(p.file, password, error)) return error;
    } else if (p.was_given()) {
        password = p.given;
    } else if (env != nullptr) {
        password = env;
    }
    return password_text_refusal(password);
}

// The commands, as the command line declares them.
struct commands {
    CLI::App *search, *show, *save, *set, *restore, *diff, *apply, *fields, *doctor, *crc, *serve;
    std::vector<CLI::App *> quick;         // baud, parity, databits
    std::string one_device;                // set, restore and diff work on one device
    std::vector<std::string> quick_words;  // DEVICE... VALUE
    std::string text;                      // crc's
    console::serve_options serving;        // serve's
    bool no_open = false;
};

void add_reading_commands(CLI::App &app, shared &s, commands &c) {
    options &o = s.o;
    c.search = app.add_subcommand(
        "search",
        "list every device that answers, checked at its address (family A: a read "
        "for its firmware)");
    c.search->add_flag("--json", o.as_json, "a JSON list of device records");
    add_interfaces_flag(c.search, s);
    add_search_plan(c.search, s);

    c.show = app.add_subcommand("show", "log in, read and print every setting, log out");
    c.save = app.add_subcommand(
        "save", "print every setting as JSON for restore (without the password unless asked)");
    for (CLI::App *command : {c.show, c.save}) {
        command->add_option("DEVICE", o.devices, "address or identifier; several for a batch")
            ->check(device_text);
        add_batch(command, s, false);
        add_password(command, s);
        command->add_flag("--json", o.as_json,
                          "JSON (save: always; several devices: a list of results)");
        command->add_flag("--with-password", o.with_password, "include the password in the JSON");
        add_interfaces_flag(command, s);
        add_search_plan(command, s);
    }
    c.save->add_option("--dir", o.dir, "one file per device, DIR/IDENTIFIER.json, and a table");
}

void add_writing_commands(CLI::App &app, shared &s, commands &c) {
    options &o = s.o;
    c.set = app.add_subcommand("set", "change settings: write them, read them back, compare");
    c.set->add_option("DEVICE", c.one_device, "address or identifier")
        ->required()
        ->check(device_text);
    c.set->add_option("KEY=VALUE", o.assignments, "a setting and its new value (kxtool fields)")
        ->required()
        ->check(assignment);
    c.set->add_flag("--dry-run", o.dry_run,
                    "show current -> new for what would change; write nothing");
    add_family(c.set, s, "the device's family, where two share an identifier");
    add_force(c.set, o);
    add_password(c.set, s);
    add_interfaces_flag(c.set, s);
    add_search_plan(c.set, s);

    c.restore = app.add_subcommand(
        "restore", "write the settings a save printed, read them back, report each difference");
    c.diff = app.add_subcommand(
        "diff", "what restore would change, field by field (current -> new); nothing is written");
    for (CLI::App *command : {c.restore, c.diff}) {
        command->add_option("DEVICE", c.one_device, "address or identifier")
            ->required()
            ->check(device_text);
        command->add_option("FILE", o.file, "JSON file written by save")->required();
        command->add_flag("--clone", o.clone,
                          "the file is another device's: copy its settings but not the identity "
                          "fields (" +
                              identity_names() + ")");
        command->add_option("--set", o.set,
                            "with --clone, copy this identity field too (NAME), or give it a "
                            "value (NAME=VALUE)");
        add_family(command, s, "the device's family, where two share an identifier");
        add_password(command, s);
        add_interfaces_flag(command, s);
        add_search_plan(command, s);
    }
    c.restore->add_flag("--dry-run", o.dry_run, "show what would change; write nothing");
    add_force(c.restore, o);

    c.apply =
        app.add_subcommand("apply",
                           "configure many devices from a JSON list of {\"device\", \"password\", "
                           "\"settings\", \"clone\", \"set\"}; a table of results");
    c.apply->add_option("FILE", o.file, "the JSON list")->required();
    c.apply->add_flag("--dry-run", o.dry_run, "show what would change on each; write nothing");
    c.apply->add_flag("--json", o.as_json, "the results as a JSON list");
    add_force(c.apply, o);
    add_password(c.apply, s);
    add_interfaces_flag(c.apply, s);
    add_search_plan(c.apply, s);
}

void add_quick_commands(CLI::App &app, shared &s, commands &c) {
    struct quick {
        const char *name, *help, *value;
    };
    const quick quick_commands[] = {
        {"baud", "set the serial speed at once, then read it back", "BITS_PER_SECOND"},
        {"parity",
         "set the parity at once: none, odd, even, mark, space, or a code, which is the "
         "device's own as show prints it (family A: 1 even, 2 odd; family B: 1 odd, 2 even); "
         "a batch of both families takes only words for odd and even",
         "PARITY"},
        {"databits", "set the data bits at once (5 to 8)", "BITS"},
    };
    for (const quick &q : quick_commands) {
        auto *command = app.add_subcommand(q.name, q.help);
        command->footer(
            "The device takes a quick setting without a login. Given a password (--password, "
            "--password-file or KXCONF_PASSWORD), kxtool logs in first and sends nothing more "
            "when the login fails; without one it sends the setting, then logs in with an empty "
            "password to read it back. A quick setting carries no identifier, so kxtool first "
            "checks that the device answers at its address as itself and that the search lists "
            "no other device with that address.");
        command->add_option("ARGS", c.quick_words, "")
            ->option_text(std::string("DEVICE... ") + q.value)
            ->required();
        add_batch(command, s, true);
        add_password(command, s);
        add_interfaces_flag(command, s);
        add_search_plan(command, s);
        c.quick.push_back(command);
    }
}

void add_other_commands(CLI::App &app, shared &s, commands &c) {
    c.fields = app.add_subcommand("fields", "every setting: meaning, range and unit");
    add_family(c.fields, s, "only this family's ranges");

    c.doctor = app.add_subcommand(
        "doctor",
        "the adapters, the broadcast route, port 65281, the receive queue, and a "
        "search counted per adapter");

    c.serve = app.add_subcommand(
        "serve",
        "a web console on 127.0.0.1 for this user's browser (Site, Device, Batch, Doctor); the "
        "first line printed is the link that opens it, once");
    c.serve
        ->add_option("--port", c.serving.port,
                     "the port on 127.0.0.1 (default 8750; 0: a free one)")
        ->check(CLI::Range(0, 65535));
    c.serve->add_flag("--no-open", c.no_open, "print the link only; open no browser");

    c.crc = app.add_subcommand("crc", "CRC-16 of the text's bytes, in hex");
    c.crc->add_option("TEXT", c.text)
        ->required()
        ->check(CLI::Validator(
            [](const std::string &t) -> std::string {
                // The CRC covers at most 65535 bytes; a longer text would be cut silently.
                return t.size() <= 65535 ? "" : "longer than 65535 bytes";
            },
            "TEXT"));
}

// The site journal's commands (see core/journal.h and core/site.h).
struct journal_commands {
    CLI::App *inventory, *history, *baseline, *baseline_save, *baseline_list, *check, *audit;
};

void add_journal_commands(CLI::App &app, shared &s, journal_commands &j) {
    options &o = s.o;
    j.inventory = app.add_subcommand(
        "inventory",
        "every device the journal has seen: status (offline: missing from the latest complete "
        "search), addresses, firmware, serial settings, last seen");
    j.inventory->add_flag("--json", o.as_json, "a JSON list");
    j.inventory->add_flag("--csv", o.as_csv, "CSV, one line per device")->excludes("--json");

    j.history = app.add_subcommand(
        "history",
        "the changes the journal recorded, newest first: time, who, field, before -> after");
    j.history->add_option("DEVICE", o.devices, "only this device (address or identifier)")
        ->check(device_text)
        ->expected(0, 1);
    add_family(j.history, s, "only devices of this family");
    j.history->add_option("--limit", o.limit, "at most N changes");
    j.history->add_flag("--json", o.as_json, "a JSON list");

    j.baseline = app.add_subcommand(
        "baseline", "the settings a site was commissioned with, kept in the journal for check");
    j.baseline->require_subcommand(1);
    j.baseline_save = j.baseline->add_subcommand(
        "save", "read the devices named (every device: none named) and keep them as NAME");
    j.baseline_save->add_option("NAME", o.name, "the baseline's name")->required();
    j.baseline_save->add_option("DEVICE", o.devices, "address or identifier; none: every device")
        ->check(device_text);
    add_password(j.baseline_save, s);
    j.baseline_list = j.baseline->add_subcommand("list", "the baselines kept");

    j.check = app.add_subcommand(
        "check",
        "compare every device of a baseline with its settings now: drifted fields, missing "
        "devices, new ones; exit 0 when nothing drifted, 1 otherwise");
    j.check->add_option("NAME", o.name, "the baseline's name")->required();
    j.check->add_flag("--json", o.as_json, "the result as JSON");
    add_password(j.check, s);

    j.audit = app.add_subcommand(
        "audit",
        "devices that take an empty password (a login, logged out at once; nothing written), two "
        "devices at one address, one identifier in two places, devices not at their address");
    j.audit->add_flag("--json", o.as_json, "the findings as a JSON list");
}

CLI::App *quick_command_given(const commands &c) {
    for (CLI::App *q : c.quick)
        if (q->parsed()) return q;
    return nullptr;
}

// What the command line cannot check alone, once parsed: empty, or why the
// command is refused. plan: where the command's search looks.
std::string check_arguments(shared &s, commands &c, const std::string &interface_address,
                            search_plan &plan) {
    options &o = s.o;
    if (!c.one_device.empty()) o.devices = {c.one_device};
    std::string error = resolve_password(s.password, o.password, o.password_given);
    const bool batch_able = c.show->parsed() || c.save->parsed();
    CLI::App *quick_app = quick_command_given(c);
    if (quick_app != nullptr) {
        o.value = c.quick_words.back();
        c.quick_words.pop_back();
        if (valid_address(o.value) || valid_identifier(o.value))
            error = quick_app->get_name() + ": the value is missing after " + o.value;
        for (const std::string &device : c.quick_words)
            if (const std::string why = device_text(device); error.empty() && !why.empty())
                error = why;
        o.devices = c.quick_words;
        const field &f = quick_field(quick_app->get_name());
        if (const std::string why = refusal(f, typed_value(f, o.value), nullptr);
            error.empty() && !why.empty())
            error = quick_app->get_name() + " " + o.value + ": " + why;
    }
    if (error.empty())
        error = make_search_plan(s.ranges, s.targets,
                                 s.rate == 0 ? std::nullopt : std::optional<int64_t>(s.rate),
                                 !interface_address.empty(), plan);
    // A search beyond a router is accepted where --all is: without DEVICE,
    // every device it finds.
    if ((batch_able || quick_app != nullptr) && plan.routed() && o.devices.empty()) o.all = true;
    if ((batch_able || quick_app != nullptr) && error.empty()) {
        if (o.all && !o.devices.empty())
            error = "--all and DEVICE: give one";
        else if (!o.all && o.family == nullptr && o.devices.empty())
            error = "name a DEVICE, or --all, or " + kxtools::family_choices("--family ");
        else if (c.save->parsed() && o.dir.empty() && (o.all || o.devices.size() != 1))
            error = "save of several devices writes files: add --dir DIR";
    }
    return error;
}

int run(const commands &c, const context &ctx, options &o) {
    if (c.search->parsed()) return cli::print_search(search_devices(ctx), o.as_json);
    if (c.show->parsed()) return show_command(ctx, o, false);
    if (c.save->parsed()) return show_command(ctx, o, true);
    if (c.set->parsed()) return set_command(ctx, o);
    if (c.restore->parsed()) return restore_command(ctx, o);
    if (c.diff->parsed()) {
        o.dry_run = true;
        return restore_command(ctx, o);
    }
    if (c.apply->parsed()) return apply_command(ctx, o);
    if (CLI::App *quick_app = quick_command_given(c))
        return quick_command(ctx, quick_app->get_name(), o);
    if (c.doctor->parsed()) return cli::print_doctor(diagnose(ctx));
    return exit_refused;
}

}  // namespace

int main(int argc, char **argv) {
    // First, so that a Ctrl-C at any moment stops the job as it should.
    const std::atomic<bool> &interrupted = cli::catch_interrupts();
    CLI::App app{"kxtool: find, back up, configure and restore serial device servers"};
    app.footer(footer());
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", std::string("kxtool ") + KXTOOL_VERSION);
    bool verbose = false;
    std::string interface_address;
    app.add_flag("-v,--verbose", verbose, "trace every library call on stderr");
    int rounds = 1;
    app.add_option("--rounds", rounds,
                   "ask every search N times and merge the answers, for devices that drop the "
                   "first requests (default 1)")
        ->check(CLI::Range(1, 10));
    std::string journal_path;
    bool no_journal = false;
    app.add_option("--journal", journal_path,
                   "the journal's file (default: $XDG_DATA_HOME/kxconf/journal.sqlite, or "
                   "~/.local/share/...; Windows: %LOCALAPPDATA%\\kxconf\\journal.sqlite)");
    app.add_flag("--no-journal", no_journal, "record nothing in the journal");
    app.add_option("--interface", interface_address,
                   "work only on devices in the subnet of the adapter with this address: others "
                   "are left out of lists, a DEVICE outside it is refused, and a DEVICE given as "
                   "an address is asked there only; a search (by identifier, --all, --family, "
                   "search) still asks on every adapter");

    shared s;
    commands c;
    add_reading_commands(app, s, c);
    add_writing_commands(app, s, c);
    add_quick_commands(app, s, c);
    add_other_commands(app, s, c);
    journal_commands j;
    add_journal_commands(app, s, j);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        // A word that names no command is left over, and reported as a missing command.
        if (app.get_subcommands().empty() && !app.remaining().empty() &&
            app.remaining().front().rfind('-', 0) != 0) {
            complain("unknown command: " + app.remaining().front() +
                     " (kxtool --help lists the commands)");
            return exit_refused;
        }
        const int code = app.exit(e);
        return code == 0 ? exit_ok : exit_refused;
    }

    if (c.crc->parsed()) {
        const int32_t value = cal_crc(reinterpret_cast<const uint8_t *>(c.text.data()),
                                      static_cast<int32_t>(c.text.size()));
        fmt::print("0x{:04X}\n", static_cast<unsigned>(value) & 0xFFFFu);
        return exit_ok;
    }
    options &o = s.o;
    if (!s.family.empty()) o.family = family_by_letter(s.family);
    if (c.fields->parsed()) {
        cli::print_fields(o.family);
        return exit_ok;
    }
    search_plan plan;
    if (const std::string error = check_arguments(s, c, interface_address, plan); !error.empty()) {
        complain(error + "; nothing was sent");
        return exit_refused;
    }
    const bool reads_journal =
        j.inventory->parsed() || j.history->parsed() || j.baseline_list->parsed();
    const bool keeps_in_journal = reads_journal || j.baseline_save->parsed() || j.check->parsed();
    std::unique_ptr<journal> site_journal = open_journal(
        journal_path, no_journal, keeps_in_journal,
        reads_journal || j.check->parsed() ? journal::mode::existing : journal::mode::create);
    if (keeps_in_journal && site_journal == nullptr) return exit_refused;
    if (j.inventory->parsed()) return inventory_command(*site_journal, o);
    if (j.history->parsed()) return history_command(*site_journal, o);
    if (j.baseline_list->parsed()) {
        const std::vector<baseline> kept = site_journal->baselines();
        if (!site_journal->error().empty()) {
            complain(site_journal->error());
            return exit_failed;
        }
        return cli::print_baselines(kept);
    }
    context ctx;
    ctx.stop = &interrupted;
    ctx.search_rounds = rounds;
    ctx.plan = plan;
    cli::print_to_terminal(ctx, verbose, c.show->parsed() && !o.as_json);
    if (const std::string why = use_interface(ctx, interface_address); !why.empty()) {
        complain(why + "; nothing was sent");
        return exit_refused;
    }
    std::optional<journal_recorder> recorder;
    if (site_journal != nullptr) {
        const CLI::App *command = app.get_subcommands().front();
        recorder.emplace(*site_journal, ctx,
                         command == j.baseline ? "baseline save" : command->get_name());
        ctx.watch = &*recorder;
    }
    // The console runs one job at a time; each records as its command does.
    if (c.serve->parsed()) {
        c.serving.open_browser = !c.no_open;
        c.serving.verbose = verbose;
        if (site_journal != nullptr) c.serving.journal_path = site_journal->path();
        return console::serve(ctx, c.serving, interrupted);
    }
    if (j.baseline_save->parsed()) return baseline_save_command(ctx, *site_journal, o);
    if (j.check->parsed()) return check_command(ctx, *site_journal, o);
    if (j.audit->parsed()) return cli::print_audit(audit_site(ctx, site_journal.get()), o.as_json);
    return run(c, ctx, o);
}
