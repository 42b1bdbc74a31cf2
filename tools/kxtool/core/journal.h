// The site journal: one SQLite database that keeps every search and device
// seen, every settings read (as a snapshot, without the password), every
// write with its fields before and as read back, and saved baselines. The
// command line and a console share one file: WAL mode lets readers go on
// while one writer commits, a busy timeout makes writers take turns, and a
// schema version with migrations lets an older journal be brought up to
// date. A journal_recorder, set as a context's observer, records a job as
// it runs; the read functions below serve inventory, history and reports.
#pragma once

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "context.h"
#include "device.h"

struct sqlite3;

namespace kxtool {

// Who made a record: this host's name and the user's.
struct identity_of {
    std::string host, user;
};
identity_of local_identity();

// $XDG_DATA_HOME/kxconf/journal.sqlite (~/.local/share when unset), or
// %LOCALAPPDATA%\kxconf\journal.sqlite; empty, and error set, when neither
// the variable nor a home folder is known.
std::string default_journal_path(std::string &error);

// A device as the journal knows it, with its latest snapshot.
struct journal_device {
    uint8_t family = 0;
    std::string device_id, name;
    std::string configured;     // the address it is configured with
    std::string answered_from;  // where it last answered (empty: by broadcast)
    std::string firmware;
    std::string first_seen, last_seen;  // UTC, 2024-05-01T12:00:03.123Z
    // Listed by the latest complete search of every adapter, or seen since:
    // false for a device that search missed; nullopt before any such search.
    std::optional<bool> online;
    nlohmann::json settings;    // latest snapshot without the password; null: none
    std::string settings_time;  // when it was last read
};

// One field of a change: before and after as tables show them; nullopt
// where unknown (not read first, or the read-back failed) or secret.
struct journal_field {
    std::string field;
    std::optional<std::string> before, after;
    bool secret = false;
};

// A write and its outcome.
struct journal_change {
    int64_t id = 0;
    std::string time, host, user, command;
    uint8_t family = 0;
    std::string device_id, device_name, address;
    bool ok = false;
    int result = 0;      // the outcome code (context.h's exit codes)
    std::string detail;  // why it failed, or empty
    std::vector<journal_field> fields;
};

// Settings as read: the first and last time they were read unchanged.
struct journal_snapshot {
    int64_t id = 0;
    std::string time, last_time, command, host, user, answered_from;
    nlohmann::json settings;
};

// Settings a site was commissioned with, device by device.
struct baseline_device {
    uint8_t family = 0;
    std::string device_id, name, address;
    nlohmann::json settings;  // as read, without the password
};
struct baseline {
    std::string name, time, host, user;
    // Taken of every device that answered: a check also reports new ones.
    bool whole_site = false;
    std::vector<baseline_device> devices;
};

// Where an identifier has been seen: configured with an address, answering
// from one (empty: by broadcast), first and last.
struct journal_place {
    std::string configured, answered_from, first_seen, last_seen;
};

class journal {
  public:
    enum class mode { create, existing };
    // Opens (creating it and its folder with mode::create) and brings the
    // schema up to date. Null, and error set, when it cannot be used.
    static std::unique_ptr<journal> open(const std::string &path, mode how, std::string &error);
    ~journal();
    journal(const journal &) = delete;
    journal &operator=(const journal &) = delete;

    const std::string &path() const { return path_; }
    // The last failure's text.
    const std::string &error() const { return error_; }
    // Who the records name; the local host and user unless changed.
    identity_of who;

    // Records. Each is one transaction: all of it or none. False, and
    // error() set, when it could not be recorded.
    bool record_search(std::span<const kx_device_record> devices, bool complete,
                       const std::string &command, const std::string &adapters,
                       const std::string &scope);
    bool record_read(const target &device, const kx_settings_record &settings,
                     const std::string &command);
    // fields: what changed between before (null: not read) and after (null:
    // the read-back failed), or the field a quick setting sets.
    bool record_change(const target &device, const std::string &command,
                       const kx_settings_record *before, const kx_settings_record *after,
                       const std::vector<journal_field> &fields, int code,
                       const std::string &detail);
    // Replaces any baseline of that name.
    bool save_baseline(const baseline &b);

    // Reads. Empty, and error() set, when the database fails.
    std::vector<journal_device> inventory();
    // Changes newest first: of the devices that DEVICE names (an identifier,
    // or an address they were configured with or answered from), of one
    // family when given; of every device when DEVICE is empty.
    std::vector<journal_change> history(const std::string &device, uint8_t family = 0,
                                        size_t limit = SIZE_MAX);
    // A device's snapshots, newest first.
    std::vector<journal_snapshot> snapshots(uint8_t family, const std::string &device_id,
                                            size_t limit = SIZE_MAX);
    std::vector<journal_place> places(uint8_t family, const std::string &device_id);
    std::optional<baseline> load_baseline(const std::string &name);
    // Every baseline, without its devices' settings.
    std::vector<baseline> baselines();

    sqlite3 *handle() const { return db_; }

  private:
    journal(sqlite3 *db, std::string path) : db_(db), path_(std::move(path)) {}
    bool failed(const std::string &what);

    sqlite3 *db_;
    std::string path_;
    std::string error_;
};

// "online", "offline", or "-" before any complete search.
const char *online_text(const journal_device &d);
// A device and a change as inventory --json and history --json list them,
// and the console sends them.
nlohmann::ordered_json journal_device_json(const journal_device &d);
nlohmann::ordered_json journal_change_json(const journal_change &c);

// The schema version this kxtool writes.
constexpr int journal_schema = 1;

// Records what a job does in a journal, as the context's observer. A record
// that fails is said once by a warning, naming what was not recorded; the
// job goes on: the journal never stops a device's write.
class journal_recorder : public observer {
  public:
    // command: the command the records name ("search", "set", ...).
    journal_recorder(journal &j, const context &ctx, std::string command)
        : journal_(j), ctx_(ctx), command_(std::move(command)) {}

    void search_finished(std::span<const kx_device_record> devices, bool complete) override;
    void settings_read(const target &device, const kx_settings_record &settings) override;
    void change_written(const target &device, std::string_view command,
                        const kx_settings_record *before, const kx_settings_record *after, int code,
                        const std::string &detail) override;

  private:
    void not_recorded(const std::string &what);

    journal &journal_;
    const context &ctx_;
    std::string command_;
    bool stopped_ = false;
};

}  // namespace kxtool
