// Opening the console in the desktop's browser. The URL holds the one-time
// token, and a program's command line can be read by every local user, so
// the browser is handed a file that only this user can read and that
// forwards to the URL, never the URL itself.
#pragma once

#include <string>

namespace kxtool::console {

// Writes the forwarding file and opens it (xdg-open; the shell's "open" on
// Windows). file: the file written, to remove once used (empty when none
// was); false and why not when the browser could not be asked.
bool open_browser(const std::string &url, std::string &file, std::string &error);

void remove_file(const std::string &file);

}  // namespace kxtool::console
