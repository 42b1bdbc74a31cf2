// The journal's file, schema and records. Every record is one IMMEDIATE
// transaction: it waits its turn behind another writer (up to the busy
// timeout) rather than failing half-way, and is committed whole or not at
// all. WAL with synchronous=NORMAL commits without waiting for the disk: a
// killed process loses nothing committed; a power cut may lose the last
// records, never the file's consistency.
#include "journal.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include <fmt/core.h>
#include <sqlite3.h>

#include <bit>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>

#include "core.h"
#include "journal_sql.h"

namespace kxtool {
namespace {

// Long enough for another kxtool or a console to finish its record.
constexpr int busy_timeout_ms = 5000;

// Each step brings the schema from version i to i + 1.
constexpr int wal_pages_before_folding = 64;

const char *const migrations[] = {
    // 1: the first schema.
    R"(
CREATE TABLE searches (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  host TEXT NOT NULL,
  user TEXT NOT NULL,
  command TEXT NOT NULL,
  adapters TEXT NOT NULL,
  scope TEXT NOT NULL,
  found INTEGER NOT NULL,
  counts TEXT NOT NULL,
  complete INTEGER NOT NULL);
CREATE TABLE devices (
  id INTEGER PRIMARY KEY,
  family INTEGER NOT NULL,
  device_id TEXT NOT NULL,
  name TEXT NOT NULL,
  configured TEXT NOT NULL,
  answered_from TEXT NOT NULL,
  firmware TEXT NOT NULL,
  first_seen TEXT NOT NULL,
  last_seen TEXT NOT NULL,
  last_search INTEGER REFERENCES searches (id),
  last_snapshot INTEGER REFERENCES snapshots (id),
  UNIQUE (family, device_id));
CREATE TABLE places (
  device INTEGER NOT NULL REFERENCES devices (id),
  configured TEXT NOT NULL,
  answered_from TEXT NOT NULL,
  first_seen TEXT NOT NULL,
  last_seen TEXT NOT NULL,
  PRIMARY KEY (device, configured, answered_from)) WITHOUT ROWID;
CREATE INDEX places_by_configured ON places (configured);
CREATE INDEX places_by_answered_from ON places (answered_from);
CREATE TABLE snapshots (
  id INTEGER PRIMARY KEY,
  device INTEGER NOT NULL REFERENCES devices (id),
  time TEXT NOT NULL,
  last_time TEXT NOT NULL,
  command TEXT NOT NULL,
  host TEXT NOT NULL,
  user TEXT NOT NULL,
  answered_from TEXT NOT NULL,
  settings TEXT NOT NULL);
CREATE INDEX snapshots_by_device ON snapshots (device, id);
CREATE TABLE changes (
  id INTEGER PRIMARY KEY,
  device INTEGER NOT NULL REFERENCES devices (id),
  time TEXT NOT NULL,
  command TEXT NOT NULL,
  host TEXT NOT NULL,
  user TEXT NOT NULL,
  answered_from TEXT NOT NULL,
  ok INTEGER NOT NULL,
  result INTEGER NOT NULL,
  detail TEXT NOT NULL,
  before TEXT,
  after TEXT);
CREATE INDEX changes_by_device ON changes (device, id);
CREATE TABLE change_fields (
  change INTEGER NOT NULL REFERENCES changes (id),
  position INTEGER NOT NULL,
  field TEXT NOT NULL,
  before TEXT,
  after TEXT,
  secret INTEGER NOT NULL,
  PRIMARY KEY (change, position)) WITHOUT ROWID;
CREATE TABLE baselines (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  time TEXT NOT NULL,
  host TEXT NOT NULL,
  user TEXT NOT NULL,
  whole_site INTEGER NOT NULL);
CREATE TABLE baseline_devices (
  baseline INTEGER NOT NULL REFERENCES baselines (id) ON DELETE CASCADE,
  family INTEGER NOT NULL,
  device_id TEXT NOT NULL,
  name TEXT NOT NULL,
  address TEXT NOT NULL,
  settings TEXT NOT NULL,
  PRIMARY KEY (baseline, family, device_id)) WITHOUT ROWID;
)",
};
static_assert(std::size(migrations) == journal_schema);

std::string now_utc() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}Z", utc.tm_year + 1900,
                       utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, ms);
}

// What a record says of a device it saw; unset fields leave the journal's.
struct sighting {
    uint8_t family = 0;
    std::string device_id;
    std::optional<std::string> name, configured, firmware;
    std::string answered_from;  // empty: not known (by broadcast)
    std::optional<int64_t> search;
    // It answered: last seen now. A write that failed with no read-back
    // shows nothing of the kind.
    bool answered = true;
};

bool is_quick_setting(std::string_view command) {
    return command == "baud" || command == "parity" || command == "databits";
}

sighting seen_in(const kx_device_record &d) {
    sighting s;
    s.family = d.family;
    s.device_id = identifier_text(d.device_id);
    s.name = kxtools::field_text(d.device_name, sizeof d.device_name);
    s.configured = configured_address(d);
    s.firmware = kxtools::field_text(d.firmware_version, sizeof d.firmware_version);
    if (s.firmware->empty()) s.firmware.reset();  // family A's search answer has none
    return s;
}

sighting seen_in(const target &device, const kx_settings_record &settings) {
    sighting s;
    s.family = settings.family;
    s.device_id = identifier_text(settings.device_id);
    s.name = kxtools::field_text(settings.device_name, sizeof settings.device_name);
    s.configured = kxtools::field_text(settings.ip_address, sizeof settings.ip_address);
    s.firmware = kxtools::field_text(settings.firmware_version, sizeof settings.firmware_version);
    s.answered_from = device.answered ? device.address : std::string();
    return s;
}

// The device's row, inserted or brought up to date, and the place it was
// seen at; its id, or nullopt when the database failed.
std::optional<int64_t> note_device(sqlite3 *db, const sighting &s, const std::string &time) {
    sql::statement find(db, "SELECT id FROM devices WHERE family = ?1 AND device_id = ?2");
    find.bind(1, s.family).bind(2, s.device_id);
    int64_t id = 0;
    if (find.step()) {
        id = find.integer(0);
        if (!s.answered) return id;
        sql::statement update(db,
                              "UPDATE devices SET name = coalesce(?2, name), configured = "
                              "coalesce(?3, configured), firmware = coalesce(?4, firmware), "
                              "answered_from = coalesce(?5, answered_from), last_seen = ?6, "
                              "last_search = coalesce(?7, last_search) WHERE id = ?1");
        update.bind(1, id).bind(2, s.name).bind(3, s.configured).bind(4, s.firmware);
        update.bind(5, s.answered_from.empty() ? std::nullopt : std::optional(s.answered_from));
        update.bind(6, time).bind(7, s.search);
        if (!update.run()) return std::nullopt;
    } else {
        if (!find.ok()) return std::nullopt;
        sql::statement insert(db,
                              "INSERT INTO devices (family, device_id, name, configured, "
                              "answered_from, firmware, first_seen, last_seen, last_search) "
                              "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?7, ?8)");
        insert.bind(1, s.family).bind(2, s.device_id).bind(3, s.name.value_or(""));
        insert.bind(4, s.configured.value_or("")).bind(5, s.answered_from);
        insert.bind(6, s.firmware.value_or("")).bind(7, time).bind(8, s.search);
        if (!insert.run()) return std::nullopt;
        id = sqlite3_last_insert_rowid(db);
    }
    if (!s.configured || !s.answered) return id;
    sql::statement place(db,
                         "INSERT INTO places (device, configured, answered_from, first_seen, "
                         "last_seen) VALUES (?1, ?2, ?3, ?4, ?4) ON CONFLICT DO UPDATE SET "
                         "last_seen = excluded.last_seen");
    place.bind(1, id).bind(2, *s.configured).bind(3, s.answered_from).bind(4, time);
    if (!place.run()) return std::nullopt;
    return id;
}

std::string adapter_text(const adapter &a) {
    return fmt::format("{} {}/{}", a.name, address_text(a.address), std::popcount(a.mask));
}

}  // namespace

identity_of local_identity() {
    identity_of who;
#ifdef _WIN32
    char name[256];
    DWORD size = sizeof name;
    if (GetComputerNameA(name, &size)) who.host.assign(name, size);
    size = sizeof name;
    if (GetUserNameA(name, &size) && size > 0) who.user.assign(name, size - 1);
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) == 0) who.host = name;
    if (const passwd *p = getpwuid(getuid()); p != nullptr && p->pw_name != nullptr)
        who.user = p->pw_name;
    else
        who.user = std::to_string(getuid());
#endif
    return who;
}

std::string default_journal_path(std::string &error) {
    namespace fs = std::filesystem;
#ifdef _WIN32
    const char *base = std::getenv("LOCALAPPDATA");
    if (base == nullptr || *base == '\0') {
        error = "LOCALAPPDATA is not set";
        return {};
    }
    return (fs::path(base) / "kxconf" / "journal.sqlite").string();
#else
    if (const char *data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data == '/')
        return (fs::path(data) / "kxconf" / "journal.sqlite").string();
    const char *home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        error = "neither XDG_DATA_HOME nor HOME is set";
        return {};
    }
    return (fs::path(home) / ".local" / "share" / "kxconf" / "journal.sqlite").string();
#endif
}

std::unique_ptr<journal> journal::open(const std::string &path, mode how, std::string &error) {
    namespace fs = std::filesystem;
    std::error_code fs_error;
    if (how == mode::existing && !fs::exists(path, fs_error)) {
        error = "no journal at " + path + " (commands that talk to devices make it)";
        return nullptr;
    }
    if (const fs::path folder = fs::path(path).parent_path();
        how == mode::create && !folder.empty() && !fs::is_directory(folder, fs_error)) {
        fs::create_directories(folder, fs_error);
        if (fs_error) {
            error = "cannot make the folder " + folder.string() + ": " + fs_error.message();
            return nullptr;
        }
    }
    sqlite3 *db = nullptr;
    const int flags = SQLITE_OPEN_READWRITE | (how == mode::create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        error = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : "out of memory");
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<journal> j(new journal(db, path));
    sqlite3_busy_timeout(db, busy_timeout_ms);
    // Closing leaves the log for the next command rather than folding it in
    // and syncing the file each time. The next command reads the whole log
    // when it opens the journal alone, so the log is folded in once it holds
    // a few commands' worth of pages, not SQLite's 1000 (4 MB read each time).
    sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_wal_autocheckpoint(db, wal_pages_before_folding);
    sqlite3_extended_result_codes(db, 1);
    // Reading the version is the first read: a file that is no database
    // fails here.
    int version = 0;
    {
        sql::statement read(db, "PRAGMA user_version");
        if (!read.step()) {
            error = path + ": " + sqlite3_errmsg(db);
            return nullptr;
        }
        version = static_cast<int>(read.integer(0));
    }
    if (version > journal_schema) {
        error = fmt::format(
            "{} was written by a newer kxtool (journal version {}; this one knows up to {}): "
            "nothing is recorded in it or read from it",
            path, version, journal_schema);
        return nullptr;
    }
    const bool settings_taken = sql::exec(db, "PRAGMA foreign_keys = ON") &&
                                sql::exec(db, "PRAGMA synchronous = NORMAL") &&
                                sql::exec(db, "PRAGMA journal_mode = WAL");
    if (!settings_taken) {
        error = path + ": " + sqlite3_errmsg(db);
        return nullptr;
    }
    if (version < journal_schema) {
        // Another process may migrate at the same time: the version read
        // again inside the transaction decides.
        sql::transaction t(db);
        sql::statement again(db, "PRAGMA user_version");
        if (!t.begun() || !again.step()) {
            error = path + ": " + sqlite3_errmsg(db);
            return nullptr;
        }
        const int found = static_cast<int>(again.integer(0));
        again.reset();
        for (int v = found; v < journal_schema; ++v)
            if (!sql::exec(db, migrations[v])) {
                error = fmt::format("{}: bringing it to version {} failed: {}", path, v + 1,
                                    sqlite3_errmsg(db));
                return nullptr;
            }
        if (!sql::exec(db, fmt::format("PRAGMA user_version = {}", journal_schema).c_str()) ||
            !t.commit()) {
            error = path + ": " + sqlite3_errmsg(db);
            return nullptr;
        }
    }
    j->who = local_identity();
    return j;
}

journal::~journal() { sqlite3_close(db_); }

bool journal::failed(const std::string &what) {
    error_ = what + ": " + sqlite3_errmsg(db_);
    return false;
}

bool journal::record_search(std::span<const kx_device_record> devices, bool complete,
                            const std::string &command, const std::string &adapters,
                            const std::string &scope) {
    const std::string time = now_utc();
    std::map<std::string, int> per_family;
    for (const kx_device_record &d : devices) ++per_family[family_letter(d.family)];
    std::string counts;
    for (const auto &[letter, count] : per_family)
        counts += fmt::format("{}{} {}", counts.empty() ? "" : ", ", letter, count);
    sql::transaction t(db_);
    if (!t.begun()) return failed("the search");
    sql::statement insert(db_,
                          "INSERT INTO searches (time, host, user, command, adapters, scope, "
                          "found, counts, complete) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    insert.bind(1, time).bind(2, who.host).bind(3, who.user).bind(4, command).bind(5, adapters);
    insert.bind(6, scope).bind(7, static_cast<int64_t>(devices.size())).bind(8, counts);
    insert.bind(9, complete ? 1 : 0);
    if (!insert.run()) return failed("the search");
    const int64_t search = sqlite3_last_insert_rowid(db_);
    for (const kx_device_record &d : devices) {
        sighting s = seen_in(d);
        s.search = search;
        if (!note_device(db_, s, time)) return failed("a device the search listed");
    }
    return t.commit() || failed("the search");
}

bool journal::record_read(const target &device, const kx_settings_record &settings,
                          const std::string &command) {
    const std::string time = now_utc();
    const std::string json = settings_json(settings, false).dump();
    sql::transaction t(db_);
    if (!t.begun()) return failed("the settings read");
    const std::optional<int64_t> id = note_device(db_, seen_in(device, settings), time);
    if (!id) return failed("the device read");
    // Read again unchanged: the latest snapshot lasts until now.
    sql::statement latest(db_,
                          "SELECT s.id, s.settings FROM devices d JOIN snapshots s ON s.id = "
                          "d.last_snapshot WHERE d.id = ?1");
    latest.bind(1, *id);
    std::optional<int64_t> same;
    if (latest.step() && latest.text(1) == json) same = latest.integer(0);
    if (!latest.ok()) return failed("the settings read");
    latest.reset();
    if (same) {
        sql::statement extend(db_, "UPDATE snapshots SET last_time = ?2 WHERE id = ?1");
        extend.bind(1, *same).bind(2, time);
        if (!extend.run()) return failed("the settings read");
    } else {
        sql::statement insert(db_,
                              "INSERT INTO snapshots (device, time, last_time, command, host, "
                              "user, answered_from, settings) VALUES (?1, ?2, ?2, ?3, ?4, ?5, "
                              "?6, ?7)");
        insert.bind(1, *id).bind(2, time).bind(3, command).bind(4, who.host).bind(5, who.user);
        insert.bind(6, device.answered ? device.address : "").bind(7, json);
        if (!insert.run()) return failed("the settings read");
        sql::statement link(db_, "UPDATE devices SET last_snapshot = ?2 WHERE id = ?1");
        link.bind(1, *id).bind(2, sqlite3_last_insert_rowid(db_));
        if (!link.run()) return failed("the settings read");
    }
    return t.commit() || failed("the settings read");
}

bool journal::record_change(const target &device, const std::string &command,
                            const kx_settings_record *before, const kx_settings_record *after,
                            const std::vector<journal_field> &fields, int code,
                            const std::string &detail) {
    const std::string time = now_utc();
    sql::transaction t(db_);
    if (!t.begun()) return failed("the change");
    sighting s = seen_in(device.record);
    s.answered = false;
    if (after != nullptr) s = seen_in(device, *after);
    const std::optional<int64_t> id = note_device(db_, s, time);
    if (!id) return failed("the change");
    auto settings = [](const kx_settings_record *r) {
        return r != nullptr ? std::optional(settings_json(*r, false).dump()) : std::nullopt;
    };
    sql::statement insert(db_,
                          "INSERT INTO changes (device, time, command, host, user, answered_from, "
                          "ok, result, detail, before, after) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                          "?8, ?9, ?10, ?11)");
    insert.bind(1, *id).bind(2, time).bind(3, command).bind(4, who.host).bind(5, who.user);
    insert.bind(6, device.address).bind(7, code == exit_ok ? 1 : 0).bind(8, code);
    insert.bind(9, detail).bind(10, settings(before)).bind(11, settings(after));
    if (!insert.run()) return failed("the change");
    const int64_t change = sqlite3_last_insert_rowid(db_);
    sql::statement field(db_,
                         "INSERT INTO change_fields (change, position, field, before, after, "
                         "secret) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (size_t i = 0; i < fields.size(); ++i) {
        field.reset();
        field.bind(1, change).bind(2, static_cast<int64_t>(i)).bind(3, fields[i].field);
        field.bind(4, fields[i].before).bind(5, fields[i].after).bind(6, fields[i].secret ? 1 : 0);
        if (!field.run()) return failed("the change");
    }
    return t.commit() || failed("the change");
}

bool journal::save_baseline(const baseline &b) {
    sql::transaction t(db_);
    if (!t.begun()) return failed("the baseline");
    sql::statement drop(db_, "DELETE FROM baselines WHERE name = ?1");
    drop.bind(1, b.name);
    sql::statement insert(db_,
                          "INSERT INTO baselines (name, time, host, user, whole_site) VALUES (?1, "
                          "?2, ?3, ?4, ?5)");
    insert.bind(1, b.name).bind(2, b.time.empty() ? now_utc() : b.time);
    insert.bind(3, b.host.empty() ? who.host : b.host).bind(4, b.user.empty() ? who.user : b.user);
    insert.bind(5, b.whole_site ? 1 : 0);
    if (!drop.run() || !insert.run()) return failed("the baseline");
    const int64_t id = sqlite3_last_insert_rowid(db_);
    sql::statement device(db_,
                          "INSERT INTO baseline_devices (baseline, family, device_id, name, "
                          "address, settings) VALUES (?1, ?2, ?3, ?4, ?5, ?6)");
    for (const baseline_device &d : b.devices) {
        device.reset();
        device.bind(1, id).bind(2, d.family).bind(3, d.device_id).bind(4, d.name);
        device.bind(5, d.address).bind(6, d.settings.dump());
        if (!device.run()) return failed("the baseline");
    }
    return t.commit() || failed("the baseline");
}

void journal_recorder::not_recorded(const std::string &what) {
    // A journal that failed once (locked past the busy timeout, full, gone)
    // would make every later record wait and fail alike.
    ctx_.warn("the journal " + journal_.path() + " did not record " + what + " (" +
              journal_.error() + "); the command goes on, and records nothing more");
    stopped_ = true;
}

void journal_recorder::search_finished(std::span<const kx_device_record> devices, bool complete) {
    if (stopped_) return;
    std::string error, adapters;
    for (const adapter &a : list_adapters(error))
        if (a.up) adapters += (adapters.empty() ? "" : ", ") + adapter_text(a);
    const std::string scope = ctx_.interface ? adapter_text(*ctx_.interface) : std::string();
    if (!journal_.record_search(devices, complete, command_, adapters, scope))
        not_recorded("the search");
}

void journal_recorder::settings_read(const target &device, const kx_settings_record &settings) {
    if (stopped_) return;
    if (!journal_.record_read(device, settings, command_))
        not_recorded("the settings read of " + label(device));
}

void journal_recorder::change_written(const target &device, std::string_view command,
                                      const kx_settings_record *before,
                                      const kx_settings_record *after, int code,
                                      const std::string &detail) {
    if (stopped_) return;
    // Only what the device shows it took: before against as read back.
    std::vector<journal_field> fields;
    if (before != nullptr && after != nullptr) {
        for (const difference &d : differences(*before, *after))
            fields.push_back({d.field, d.secret ? std::nullopt : std::optional(d.before),
                              d.secret ? std::nullopt : std::optional(d.after), d.secret});
    } else if (after != nullptr && is_quick_setting(command)) {
        const field &f = quick_field(std::string(command));
        fields.push_back({f.name, std::nullopt, value_text(*after, f), false});
    }
    if (!journal_.record_change(device, std::string(command), before, after, fields, code, detail))
        not_recorded(fmt::format("the {} of {}, which {}", command, label(device),
                                 code == exit_ok ? "was written and read back" : "failed"));
}

}  // namespace kxtool
