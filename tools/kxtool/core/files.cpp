#include "files.h"

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kxtool {

bool read_json_file(const std::string &path, nlohmann::json &out, std::string &error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error = path + " is a directory, not a JSON file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    if (in) text << in.rdbuf();
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    out = nlohmann::json::parse(text.str(), nullptr, false);
    if (out.is_discarded()) {
        error = path + " is not valid JSON";
        return false;
    }
    return true;
}

}  // namespace kxtool
