// The files kxtool reads and writes. A file is never written in place: a
// reader (or a later run, after an interruption or a crash) finds the old
// file whole or the new one whole, never a part of either.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace kxtool {

// A JSON file's content; false and why not ("... is not valid JSON").
bool read_json_file(const std::string &path, nlohmann::json &out, std::string &error);

// Why path cannot be replaced by replace_file (a symlink, a folder), or empty.
std::string refused_target(const std::string &path);

// Writes content to a new file in path's folder (created exclusively, never
// through a symlink), flushes it and renames it over path. A symlink or
// anything but a plain file at path is refused, and so is nothing written.
// secret: the file is readable by its owner only; otherwise it keeps the
// mode of the file it replaces. False and why not.
bool replace_file(const std::string &path, std::string_view content, bool secret,
                  std::string &error);

// The first line of a password file, read up to a small limit. A file that
// others than its owner may write is refused: they could choose the
// password sent to every device. False and why not.
bool read_password_file(const std::string &path, std::string &password, std::string &error);

}  // namespace kxtool
