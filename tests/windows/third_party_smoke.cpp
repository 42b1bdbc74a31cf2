// The third-party code kxtool builds in, tried where it runs: SQLite (a
// database in WAL mode, in a folder whose name is not ASCII, one row written
// and read back) and cpp-httplib (a server on 127.0.0.1 that its own client
// fetches a page from). Prints PASS/FAIL lines; exits 1 on any failure.
#include <httplib.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

namespace {

int failures = 0;

void verdict(bool ok, const std::string& what, const std::string& detail = "") {
    std::printf("%s %s%s%s\n", ok ? "PASS" : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    failures += !ok;
}

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The first column of the first row SQL gives, or the error in `error`.
std::string first_value(sqlite3* db, const std::string& sql, std::string& error) {
    sqlite3_stmt* statement = nullptr;
    std::string value;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        error = sqlite3_errmsg(db);
        return value;
    }
    const int step = sqlite3_step(statement);
    if (step == SQLITE_ROW && sqlite3_column_text(statement, 0) != nullptr)
        value = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    else if (step != SQLITE_ROW && step != SQLITE_DONE)
        error = sqlite3_errmsg(db);
    sqlite3_finalize(statement);
    return value;
}

void try_sqlite(const std::filesystem::path& folder) {
    const std::filesystem::path file = folder / "journal.sqlite";
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(utf8(file).c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        verdict(false, "sqlite opens " + utf8(file), db ? sqlite3_errmsg(db) : "no memory");
        sqlite3_close(db);
        return;
    }
    sqlite3_busy_timeout(db, 5000);
    std::string error;
    const std::string mode = first_value(db, "PRAGMA journal_mode=WAL", error);
    verdict(mode == "wal", "sqlite " + std::string(sqlite3_libversion()) + " in WAL mode",
            error.empty() ? "journal mode " + mode : error);

    first_value(db, "CREATE TABLE device(identifier TEXT PRIMARY KEY, baud INTEGER)", error);
    first_value(db, "INSERT INTO device VALUES('0.16.10.0.1.1', 57600)", error);
    const std::string baud =
        first_value(db, "SELECT baud FROM device WHERE identifier = '0.16.10.0.1.1'", error);
    // A write in WAL mode goes to the -wal file beside the database.
    const bool wal_file = std::filesystem::exists(folder / "journal.sqlite-wal");
    verdict(baud == "57600" && wal_file && error.empty(), "sqlite writes and reads a row",
            error.empty() ? "read " + baud + (wal_file ? "" : ", no -wal file") : error);
    sqlite3_close(db);
}

void try_httplib() {
    httplib::Server server;
    server.Get("/hello", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("kxconf", "text/plain");
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        verdict(false, "httplib " CPPHTTPLIB_VERSION " listens on 127.0.0.1");
        return;
    }
    std::thread serving([&server] { server.listen_after_bind(); });
    // stop() only stops a server that is running.
    for (int i = 0; i < 500 && !server.is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));

    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(5);
    client.set_read_timeout(5);
    const httplib::Result result = client.Get("/hello");
    verdict(result && result->status == 200 && result->body == "kxconf",
            "httplib " CPPHTTPLIB_VERSION " serves 127.0.0.1:" + std::to_string(port) +
                " to its own client",
            result ? "status " + std::to_string(result->status) + ", body " + result->body
                   : "error " + httplib::to_string(result.error()));
    server.stop();
    serving.join();
}

}  // namespace

int main() {
    namespace fs = std::filesystem;
    std::error_code failed;
    fs::path folder;
    std::random_device random;
    for (int attempt = 0; attempt < 10 && folder.empty(); ++attempt) {
        fs::path candidate = fs::temp_directory_path(failed) / u8"kxconf-smoke-\u00fc-";
        candidate += std::to_string(random());
        if (fs::create_directory(candidate, failed)) folder = candidate;
    }
    if (folder.empty()) {
        verdict(false, "a temporary folder", failed.message());
    } else {
        try_sqlite(folder);
        fs::remove_all(folder, failed);
    }
    try_httplib();
    return failures ? 1 : 0;
}
