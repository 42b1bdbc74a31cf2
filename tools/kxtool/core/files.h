// The files kxtool reads and writes.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace kxtool {

// A JSON file's content; false and why not ("... is not valid JSON").
bool read_json_file(const std::string &path, nlohmann::json &out, std::string &error);

}  // namespace kxtool
