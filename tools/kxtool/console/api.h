// The console's JSON API (docs/console.md lists every call): each call that
// talks to devices is one job of kxtool's core, one at a time.
#pragma once

// The core before httplib.h: on Windows it brings in windows.h, whose
// macro "interface" would rename the context's member of that name.
#include "core/core.h"
#include "events.h"

// (kept after the core)
#include <httplib.h>

#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace kxtool::console {

// What reads told of each device's serial line, for the Site table (a
// search answer carries none). Never a password. Every event also goes on
// to next (the site journal's recorder, where there is one).
class site_memory : public observer {
  public:
    observer *next = nullptr;
    void search_finished(std::span<const kx_device_record> devices, bool complete) override;
    void settings_read(const target &device, const kx_settings_record &settings) override;
    void change_written(const target &device, std::string_view command,
                        const kx_settings_record *before, const kx_settings_record *after, int code,
                        const std::string &detail) override;
    // {"FAMILY IDENTIFIER": {"baud_rate": "9600", "parity": "none", "data_bits": "8 bits"}}
    nlohmann::json known();

  private:
    void remember(const kx_device_record &device, const kx_settings_record &settings);

    std::mutex mutex_;
    nlohmann::json known_ = nlohmann::json::object();
};

struct console_state {
    context base;  // search rounds and adapter, from the command line
    bool verbose = false;
    event_hub hub;
    job_slot slot;
    site_memory memory;
    std::mutex search_mutex;
    // The latest search's devices, as search --json lists them.
    std::optional<nlohmann::ordered_json> latest_search;
    std::string journal_path;  // empty: no journal
};

void add_api(httplib::Server &server, console_state &state);

}  // namespace kxtool::console
