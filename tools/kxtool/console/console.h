// kxtool serve: a web console on 127.0.0.1 for the technician's own browser.
// Its pages call kxtool's core through a small JSON API (docs/console.md);
// guard.h holds the rules that keep other web pages and other local users out.
#pragma once

#include <atomic>
#include <string>

#include "core/context.h"

namespace kxtool::console {

struct serve_options {
    int port = 8750;  // 0: any free port
    bool open_browser = true;
    bool verbose = false;  // every request and library call on stderr
    // The site journal the History page and the Site's offline devices are
    // read from (each read opens it afresh); empty: none.
    std::string journal_path;
};

// Serves until interrupted is set (Ctrl-C): the job under way then stops as
// a command does, and serve returns exit_interrupted. It returns sooner,
// with exit_failed, when the port cannot be had. Each job runs with a copy
// of base (its search rounds and adapter).
int serve(const context &base, const serve_options &options, const std::atomic<bool> &interrupted);

}  // namespace kxtool::console
