// Ctrl-C and SIGTERM (Ctrl-C and Ctrl-Break on Windows) stop a job without
// cutting a device's write: they only set the flag the core looks at
// between steps.
#pragma once

#include <atomic>

namespace kxtool::cli {

// Installs the handlers; the flag they set.
const std::atomic<bool> &catch_interrupts();

}  // namespace kxtool::cli
