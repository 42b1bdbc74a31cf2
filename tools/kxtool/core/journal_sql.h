// A thin layer over SQLite's C interface for the journal: a prepared
// statement that binds and reads by position and finalizes itself, and a
// write transaction that rolls back unless committed.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kxtool::sql {

class statement {
  public:
    statement(sqlite3 *db, const char *text) {
        status_ = sqlite3_prepare_v2(db, text, -1, &handle_, nullptr);
    }
    ~statement() { sqlite3_finalize(handle_); }
    statement(const statement &) = delete;
    statement &operator=(const statement &) = delete;

    statement &bind(int at, int64_t value) {
        keep(sqlite3_bind_int64(handle_, at, value));
        return *this;
    }
    statement &bind(int at, std::string_view text) {
        keep(sqlite3_bind_text(handle_, at, text.data(), static_cast<int>(text.size()),
                               SQLITE_TRANSIENT));
        return *this;
    }
    statement &bind(int at, const std::string &text) { return bind(at, std::string_view(text)); }
    statement &bind(int at, const char *text) { return bind(at, std::string_view(text)); }
    // Unset: SQL's NULL.
    template <typename T>
    statement &bind(int at, const std::optional<T> &value) {
        if (value) return bind(at, *value);
        keep(sqlite3_bind_null(handle_, at));
        return *this;
    }

    // The next row: true while there is one; false at the end or on a
    // failure (ok() tells which).
    bool step() {
        if (status_ != SQLITE_OK && status_ != SQLITE_ROW) return false;
        status_ = sqlite3_step(handle_);
        if (status_ == SQLITE_ROW) return true;
        if (status_ == SQLITE_DONE) status_ = SQLITE_OK;
        return false;
    }
    // Runs a statement that returns no rows; true when it succeeded.
    bool run() {
        while (step()) {
        }
        return ok();
    }
    // Ready to run again, with new values bound over the old.
    void reset() {
        sqlite3_reset(handle_);
        if (status_ == SQLITE_ROW) status_ = SQLITE_OK;
    }
    bool ok() const { return status_ == SQLITE_OK || status_ == SQLITE_ROW; }

    bool null(int column) const { return sqlite3_column_type(handle_, column) == SQLITE_NULL; }
    int64_t integer(int column) const { return sqlite3_column_int64(handle_, column); }
    std::string text(int column) const {
        const auto *bytes = sqlite3_column_text(handle_, column);
        return bytes != nullptr ? std::string(reinterpret_cast<const char *>(bytes),
                                              sqlite3_column_bytes(handle_, column))
                                : std::string();
    }
    std::optional<std::string> maybe_text(int column) const {
        return null(column) ? std::nullopt : std::optional(text(column));
    }

  private:
    void keep(int status) {
        if (status != SQLITE_OK && ok()) status_ = status;
    }

    sqlite3_stmt *handle_ = nullptr;
    int status_;
};

inline bool exec(sqlite3 *db, const char *text) {
    return sqlite3_exec(db, text, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// BEGIN IMMEDIATE: takes the write lock at once (waiting up to the busy
// timeout), so a transaction never fails half-way for want of it.
class transaction {
  public:
    explicit transaction(sqlite3 *db) : db_(db), begun_(exec(db, "BEGIN IMMEDIATE")) {}
    ~transaction() {
        if (begun_) exec(db_, "ROLLBACK");
    }
    transaction(const transaction &) = delete;
    transaction &operator=(const transaction &) = delete;

    bool begun() const { return begun_; }
    bool commit() {
        if (!begun_ || !exec(db_, "COMMIT")) return false;
        begun_ = false;
        return true;
    }

  private:
    sqlite3 *db_;
    bool begun_;
};

}  // namespace kxtool::sql
