// kxtool's core: every command as a function of a request and a context,
// returning what happened per device and printing nothing. The command line
// (cli/) parses arguments, calls these and prints; any other front end calls
// the same functions.
//
// One job at a time: every library operation binds local UDP port 65281, so
// a front end runs one core function at a time (a console queues its
// requests). Only the context's stop flag may be touched from elsewhere
// while a job runs; the callbacks are called on the job's thread.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "adapters.h"
#include "change.h"
#include "context.h"
#include "device.h"
#include "fields.h"
#include "files.h"

namespace kxtool {

// Which devices a job works on: those named, or every one the search lists
// (of one family, when given).
struct selection {
    std::vector<std::string> devices;       // addresses or identifiers
    bool all = false;                       // every device that answers the search
    const family_traits *family = nullptr;  // only this family (alone: every one of it)

    // Several devices, or all of them: a batch, one row each.
    bool batch() const {
        return all || devices.size() > 1 || (family != nullptr && devices.empty());
    }
};

// One device's outcome.
struct device_row {
    std::string name;              // the device as found (label), or as it was named
    std::optional<target> device;  // unset when it was not found
    int code = exit_ok;
    std::string detail;                          // what happened, or why not
    std::optional<kx_settings_record> settings;  // as read, or as read back after a change
    std::vector<difference> differences;         // a change: what changed, or would
    std::vector<std::string> left_alone;         // a clone: identity fields not written
    std::string file;                            // save to a folder: the file written

    bool ok() const { return code == exit_ok; }
};

struct job_result {
    int code = exit_ok;
    // Why the job as a whole did not run (no rows then): a search that
    // failed, a refused file, nothing that answered.
    std::string error;
    std::vector<device_row> rows;
    bool incomplete = false;   // the search may have missed devices
    bool interrupted = false;  // stopped before every device was done
    bool batch = false;        // several devices (or a folder): one row each
};

struct search_entry {
    kx_device_record record{};
    bool answers = false;    // it answers as itself at the address listed
    std::string configured;  // the address it is configured with, as it answered there
    std::string firmware;    // from the search answer, or a read where that has none
    std::string note;        // what a technician should know about it, or empty
};

struct search_report {
    int code = exit_ok;
    // Why the search failed, found nothing or may have missed devices.
    std::string problem;
    bool incomplete = false;
    std::vector<search_entry> devices;
};

// show and save: log in, read, log out. With dir, each device's settings
// are written to dir/IDENTIFIER.json.
struct read_request {
    selection which;
    std::string password;
    std::string dir;
    bool with_password = false;  // files keep the password
};

struct set_request {
    std::string device;
    const family_traits *family = nullptr;
    assignments changes;
    std::string password;
    bool dry_run = false;
    bool force = false;  // write an address another device answers at
};

// restore and diff: the settings a save wrote, onto a device.
struct restore_request {
    std::string device;
    const family_traits *family = nullptr;
    nlohmann::json backup;
    std::string source;  // where the backup came from, for messages
    bool clone = false;
    std::vector<std::string> set;  // with clone: NAME or NAME=VALUE
    std::string password;
    bool dry_run = false;
    bool force = false;
};

// apply: a list of {device, password, settings, clone, set}.
struct apply_request {
    nlohmann::json entries;
    std::string source;
    const family_traits *family = nullptr;
    std::string password;  // for entries without their own
    bool dry_run = false;
    bool force = false;
};

// baud, parity, databits: the quick settings.
struct quick_request {
    std::string setting;  // "baud", "parity" or "databits"
    std::string value;    // as typed
    selection which;
    std::string password;
    // A password was given: log in first, and send nothing more when the
    // login fails. Without one the device takes the quick setting without
    // a login, and the read-back logs in with an empty password.
    bool password_given = false;
};

struct doctor_report {
    std::vector<adapter> adapters;
    std::string adapter_error;
    bool routed = false;
    std::string route_by;  // the adapter 255.255.255.255 leaves by
    std::string route_error;
    port_state port = port_state::free;
    std::string port_detail;
    long queue_cap = 0;   // 0: no cap to read
    bool listed = false;  // the search ran and listed what answered
    std::string search_problem;
    size_t found = 0;
    std::vector<std::pair<std::string, int>> per_adapter;  // "name subnet", devices on it
    int elsewhere = 0;                // configured outside every adapter's subnet
    std::vector<std::string> shared;  // two devices with one address, named
    bool incomplete = false;
    bool problem = false;
};

// The field that a quick setting changes: baud_rate, parity or data_bits.
const field &quick_field(const std::string &setting);

search_report search_devices(const context &ctx);
job_result read_devices(const context &ctx, const read_request &request);
job_result set_settings(const context &ctx, const set_request &request);
job_result restore_settings(const context &ctx, const restore_request &request);
job_result apply_settings(const context &ctx, const apply_request &request);
job_result quick_setting(const context &ctx, const quick_request &request);
doctor_report diagnose(const context &ctx);

}  // namespace kxtool
