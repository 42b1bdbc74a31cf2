// The site's jobs over the journal: a baseline of the settings a site was
// commissioned with, a check of the devices against it, and an audit of
// what puts a site at risk. Like every core function they print nothing.
#pragma once

#include <string>
#include <vector>

#include "core.h"
#include "journal.h"

namespace kxtool {

// baseline save: the settings of the devices named (every one that answers
// when none is), read as save reads them.
struct baseline_request {
    std::string name;
    std::vector<std::string> devices;
    std::string password;
};
// The job's rows say how each read went; out holds every device read, and
// is the whole baseline only when the job's code is exit_ok.
job_result take_baseline(const context &ctx, const baseline_request &request, baseline &out);

// A field whose value differs from the baseline's, both as backups write them.
struct drift {
    std::string field, then, now;
};

struct check_row {
    enum class state { same, drifted, missing, added, unread, interrupted };
    state what = state::same;
    std::string device;  // as tables name it: "127.0.1.1 (0.16.10.0.1.1)"
    uint8_t family = 0;
    std::string device_id;
    std::string detail;  // unread: why; missing: where the baseline had it
    std::vector<drift> drifts;
};

struct check_report {
    // exit_ok: every device as in the baseline, none missing, none new;
    // exit_failed: anything else; exit_incomplete: all as in the baseline,
    // but the search may have missed new ones; exit_interrupted.
    int code = exit_ok;
    std::string error;  // why the check did not run (no rows then)
    std::vector<check_row> rows;
    bool incomplete = false;
};

// Reads every device of the baseline (found by one search) and compares
// every setting but the password; lists the devices missing, and, for a
// baseline of the whole site, the devices it does not hold.
check_report check_baseline(const context &ctx, const baseline &b, const std::string &password);

struct audit_finding {
    enum class kind { empty_password, shared_address, shared_identifier, elsewhere, unchecked };
    kind what;
    std::string device;  // as tables name it, or the address two devices share
    std::string detail;  // what is wrong
    std::string advice;  // what to do
};

struct audit_report {
    // exit_ok: no finding; exit_failed: findings; exit_not_found: nothing
    // answered; exit_incomplete: no finding, but the search may have
    // missed devices; exit_interrupted.
    int code = exit_ok;
    std::string error;
    size_t checked = 0;  // devices audited
    bool incomplete = false;
    std::vector<audit_finding> findings;
};

// Every device the search lists: whether it accepts an empty password (a
// login with none, logged out at once; nothing written), two devices at one
// address, whether it answers at the address it is configured with, and,
// where the journal knows other places of its identifier, whether it (or
// another device with its identifier) answers there too. known may be null.
audit_report audit_site(const context &ctx, journal *known);

}  // namespace kxtool
