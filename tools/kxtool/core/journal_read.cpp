// What the journal tells: inventory, history, snapshots, places, baselines.
#include <algorithm>

#include "journal.h"
#include "journal_sql.h"

namespace kxtool {
namespace {

nlohmann::json parsed(const std::string &text) {
    return nlohmann::json::parse(text, nullptr, false);  // discarded (not thrown) when broken
}

// Addresses in numeric order; anything else after them, as text.
bool address_before(const std::string &a, const std::string &b) {
    uint32_t x = 0, y = 0;
    const bool ax = address_value(a, x), by = address_value(b, y);
    if (ax != by) return ax;
    return ax ? x < y : a < b;
}

// SQL's LIMIT: every row for SIZE_MAX, on 32- and 64-bit hosts alike.
int64_t row_limit(size_t limit) {
    return static_cast<uint64_t>(limit) >= static_cast<uint64_t>(INT64_MAX)
               ? INT64_MAX
               : static_cast<int64_t>(limit);
}

}  // namespace

std::vector<journal_device> journal::inventory() {
    std::vector<journal_device> devices;
    // Online: listed by the latest complete search of every adapter, or
    // seen since it began. A search with --interface sees part of the site,
    // and an incomplete one may have missed devices: neither marks any
    // device offline.
    std::optional<int64_t> search;
    std::string search_time;
    sql::statement latest(db_,
                          "SELECT id, time FROM searches WHERE complete = 1 AND scope = '' "
                          "ORDER BY id DESC LIMIT 1");
    if (latest.step()) {
        search = latest.integer(0);
        search_time = latest.text(1);
    }
    if (!latest.ok()) {
        failed("the inventory");
        return {};
    }
    sql::statement read(db_,
                        "SELECT d.family, d.device_id, d.name, d.configured, d.answered_from, "
                        "d.firmware, d.first_seen, d.last_seen, d.last_search, s.settings, "
                        "s.last_time FROM devices d LEFT JOIN snapshots s ON s.id = "
                        "d.last_snapshot");
    while (read.step()) {
        journal_device d;
        d.family = static_cast<uint8_t>(read.integer(0));
        d.device_id = read.text(1);
        d.name = read.text(2);
        d.configured = read.text(3);
        d.answered_from = read.text(4);
        d.firmware = read.text(5);
        d.first_seen = read.text(6);
        d.last_seen = read.text(7);
        if (search)
            d.online = (!read.null(8) && read.integer(8) >= *search) || d.last_seen >= search_time;
        if (!read.null(9)) d.settings = parsed(read.text(9));
        d.settings_time = read.text(10);
        devices.push_back(std::move(d));
    }
    if (!read.ok()) {
        failed("the inventory");
        return {};
    }
    std::sort(devices.begin(), devices.end(), [](const journal_device &a, const journal_device &b) {
        if (a.configured != b.configured) return address_before(a.configured, b.configured);
        if (a.family != b.family) return a.family < b.family;
        return a.device_id < b.device_id;
    });
    return devices;
}

std::vector<journal_change> journal::history(const std::string &device, uint8_t family,
                                             size_t limit) {
    std::vector<journal_change> changes;
    sql::statement read(db_,
                        "SELECT c.id, c.time, c.host, c.user, c.command, d.family, d.device_id, "
                        "d.name, c.answered_from, c.ok, c.result, c.detail FROM changes c JOIN "
                        "devices d ON d.id = c.device WHERE (?1 = '' OR d.device_id = ?1 OR d.id "
                        "IN (SELECT device FROM places WHERE configured = ?1 OR answered_from = "
                        "?1)) AND (?2 = 0 OR d.family = ?2) ORDER BY c.id DESC LIMIT ?3");
    read.bind(1, device).bind(2, family);
    read.bind(3, row_limit(limit));
    while (read.step()) {
        journal_change c;
        c.id = read.integer(0);
        c.time = read.text(1);
        c.host = read.text(2);
        c.user = read.text(3);
        c.command = read.text(4);
        c.family = static_cast<uint8_t>(read.integer(5));
        c.device_id = read.text(6);
        c.device_name = read.text(7);
        c.address = read.text(8);
        c.ok = read.integer(9) != 0;
        c.result = static_cast<int>(read.integer(10));
        c.detail = read.text(11);
        changes.push_back(std::move(c));
    }
    if (!read.ok()) {
        failed("the history");
        return {};
    }
    sql::statement fields(db_,
                          "SELECT field, before, after, secret FROM change_fields WHERE change = "
                          "?1 ORDER BY position");
    for (journal_change &c : changes) {
        fields.reset();
        fields.bind(1, c.id);
        while (fields.step())
            c.fields.push_back({fields.text(0), fields.maybe_text(1), fields.maybe_text(2),
                                fields.integer(3) != 0});
        if (!fields.ok()) {
            failed("the history");
            return {};
        }
    }
    return changes;
}

std::vector<journal_snapshot> journal::snapshots(uint8_t family, const std::string &device_id,
                                                 size_t limit) {
    std::vector<journal_snapshot> found;
    sql::statement read(db_,
                        "SELECT s.id, s.time, s.last_time, s.command, s.host, s.user, "
                        "s.answered_from, s.settings FROM snapshots s JOIN devices d ON d.id = "
                        "s.device WHERE d.family = ?1 AND d.device_id = ?2 ORDER BY s.id DESC "
                        "LIMIT ?3");
    read.bind(1, family).bind(2, device_id);
    read.bind(3, row_limit(limit));
    while (read.step())
        found.push_back({read.integer(0), read.text(1), read.text(2), read.text(3), read.text(4),
                         read.text(5), read.text(6), parsed(read.text(7))});
    if (!read.ok()) {
        failed("the snapshots");
        return {};
    }
    return found;
}

std::vector<journal_place> journal::places(uint8_t family, const std::string &device_id) {
    std::vector<journal_place> found;
    sql::statement read(db_,
                        "SELECT p.configured, p.answered_from, p.first_seen, p.last_seen FROM "
                        "places p JOIN devices d ON d.id = p.device WHERE d.family = ?1 AND "
                        "d.device_id = ?2 ORDER BY p.last_seen DESC");
    read.bind(1, family).bind(2, device_id);
    while (read.step()) found.push_back({read.text(0), read.text(1), read.text(2), read.text(3)});
    if (!read.ok()) {
        failed("the places");
        return {};
    }
    return found;
}

std::optional<baseline> journal::load_baseline(const std::string &name) {
    sql::statement head(db_,
                        "SELECT id, time, host, user, whole_site FROM baselines WHERE name = ?1");
    head.bind(1, name);
    if (!head.step()) {
        if (!head.ok()) failed("the baseline");
        return std::nullopt;
    }
    baseline b{name, head.text(1), head.text(2), head.text(3), head.integer(4) != 0, {}};
    sql::statement read(db_,
                        "SELECT family, device_id, name, address, settings FROM baseline_devices "
                        "WHERE baseline = ?1 ORDER BY family, device_id");
    read.bind(1, head.integer(0));
    while (read.step())
        b.devices.push_back({static_cast<uint8_t>(read.integer(0)), read.text(1), read.text(2),
                             read.text(3), parsed(read.text(4))});
    if (!read.ok()) {
        failed("the baseline");
        return {};
    }
    return b;
}

std::vector<baseline> journal::baselines() {
    std::vector<baseline> found;
    sql::statement read(db_,
                        "SELECT b.name, b.time, b.host, b.user, b.whole_site, d.family, "
                        "d.device_id, d.name, d.address FROM baselines b LEFT JOIN "
                        "baseline_devices d ON d.baseline = b.id ORDER BY b.name, d.family, "
                        "d.device_id");
    while (read.step()) {
        if (found.empty() || found.back().name != read.text(0))
            found.push_back(
                {read.text(0), read.text(1), read.text(2), read.text(3), read.integer(4) != 0, {}});
        if (!read.null(5))
            found.back().devices.push_back({static_cast<uint8_t>(read.integer(5)), read.text(6),
                                            read.text(7), read.text(8), nullptr});
    }
    if (!read.ok()) {
        failed("the baselines");
        return {};
    }
    return found;
}

const char *online_text(const journal_device &d) {
    return !d.online ? "-" : *d.online ? "online" : "offline";
}

nlohmann::ordered_json journal_device_json(const journal_device &d) {
    return {{"status", online_text(d)},        {"family", d.family},
            {"device_id", d.device_id},        {"device_name", d.name},
            {"ip_address", d.configured},      {"answered_from", d.answered_from},
            {"firmware_version", d.firmware},  {"first_seen", d.first_seen},
            {"last_seen", d.last_seen},        {"settings", d.settings},
            {"settings_read", d.settings_time}};
}

nlohmann::ordered_json journal_change_json(const journal_change &c) {
    using ordered = nlohmann::ordered_json;
    ordered fields = ordered::array();
    for (const journal_field &f : c.fields)
        fields.push_back({{"field", f.field},
                          {"before", f.before ? ordered(*f.before) : ordered()},
                          {"after", f.after ? ordered(*f.after) : ordered()},
                          {"secret", f.secret}});
    return {{"time", c.time},
            {"host", c.host},
            {"user", c.user},
            {"command", c.command},
            {"family", c.family},
            {"device_id", c.device_id},
            {"device_name", c.device_name},
            {"address", c.address},
            {"ok", c.ok},
            {"detail", c.detail},
            {"fields", fields}};
}

}  // namespace kxtool
