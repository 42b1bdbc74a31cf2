// The end of every command over several devices: one row per device (what
// happened, or why not), printed as a table or as JSON, and the exit code.
#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "device.h"

namespace kxtool {

class batch {
  public:
    batch(bool as_json, size_t total) : as_json_(as_json), total_(total) {}

    // "[n/N] device" on stderr when it is a terminal.
    void progress(const std::string &name);
    // One device's outcome; data goes into its JSON row (settings, say).
    void add(const target *device, const std::string &name, int code, const std::string &detail,
             nlohmann::ordered_json data = nlohmann::ordered_json::object());
    bool failed() const { return failed_ > 0; }

    // Prints the table (or the JSON list) and returns the exit code: 1 when
    // any device failed, 4 when none did but the search may have missed
    // some, otherwise 0.
    int finish(bool incomplete);

  private:
    struct row {
        std::string name, family, identifier, detail;
        bool ok;
        nlohmann::ordered_json json;
    };
    bool as_json_;
    size_t total_;
    size_t shown_ = 0;
    size_t failed_ = 0;
    std::vector<row> rows_;
};

}  // namespace kxtool
