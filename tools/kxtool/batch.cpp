#include "batch.h"

#include <fmt/core.h>

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define kxtool_isatty _isatty
#define kxtool_fileno _fileno
#else
#include <unistd.h>
#define kxtool_isatty isatty
#define kxtool_fileno fileno
#endif

namespace kxtool {

void batch::progress(const std::string &name) {
    ++shown_;
    if (kxtool_isatty(kxtool_fileno(stderr)) != 0)
        std::fprintf(stderr, "[%zu/%zu] %s\n", shown_, total_, name.c_str());
}

void batch::add(const target *device, const std::string &name, int code, const std::string &detail,
                nlohmann::ordered_json data) {
    row r{name, "", "", detail, code == exit_ok, nlohmann::ordered_json::object()};
    r.json["device"] = name;
    if (device != nullptr) {
        r.family = family_letter(device->record.family);
        r.identifier = identifier_text(device->record.device_id);
        r.json["family"] = device->record.family;
        r.json["device_id"] = r.identifier;
        r.json["ip_address"] = configured_address(device->record);
    }
    r.json["ok"] = r.ok;
    r.json["detail"] = detail;
    for (auto &[key, value] : data.items()) r.json[key] = value;
    if (!r.ok) ++failed_;
    rows_.push_back(std::move(r));
}

int batch::finish(bool incomplete) {
    if (as_json_) {
        nlohmann::ordered_json list = nlohmann::ordered_json::array();
        for (const row &r : rows_) list.push_back(r.json);
        fmt::print("{}\n", list.dump(2));
    } else {
        size_t width = 6;
        for (const row &r : rows_) width = std::max(width, r.name.size());
        fmt::print("{:<{}}  {:<6}  {:<6}  {}\n", "device", width, "family", "result", "detail");
        for (const row &r : rows_)
            fmt::print("{:<{}}  {:<6}  {:<6}  {}\n", r.name, width, r.family,
                       r.ok ? "ok" : "FAILED", r.detail);
        fmt::print("{} ok, {} failed\n", rows_.size() - failed_, failed_);
    }
    std::fflush(stdout);
    if (failed_ > 0) return exit_failed;
    return incomplete ? exit_incomplete : exit_ok;
}

}  // namespace kxtool
