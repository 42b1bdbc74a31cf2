// What the library does when the loader notifies it: on process attach it
// starts the socket layer and lets the load fail if that fails; on process
// detach by FreeLibrary it stops the socket layer again; on process detach
// during process termination it does nothing, since the other threads have
// been ended wherever they were and the host's own clean-up may still use
// Windows Sockets; thread notifications do nothing.
//
// Kept apart from DllMain so the decisions can be driven without a loader.
#pragma once

namespace kx {

enum class load_notice {
    process_attach,
    process_detach,  // FreeLibrary
    process_exit,    // process detach during process termination
    thread_attach,
    thread_detach
};

// started: whether this library's start-up succeeded and is still to be
// undone. The loader also sends process detach after a failed attach; a
// cleanup without a matching start-up would take Windows Sockets away from
// whatever else in the process started them, so it is skipped.
// Returns false only for a failed process attach.
inline bool on_load_notice(load_notice notice, bool &started, bool (*start)(), void (*stop)()) {
    switch (notice) {
        case load_notice::process_attach:
            started = start();
            return started;
        case load_notice::process_detach:
            if (started) stop();
            started = false;
            return true;
        case load_notice::process_exit:
            started = false;
            return true;
        case load_notice::thread_attach:
        case load_notice::thread_detach:
            return true;
    }
    return true;
}

}  // namespace kx
