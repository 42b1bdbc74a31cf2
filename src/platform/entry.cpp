// The library entry routine: the loader's notifications, mapped onto
// on_load_notice with the socket layer's start-up and clean-up.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "platform/entry.h"

#include <windows.h>

#include "platform/platform.h"

namespace {

// The one process-wide fact the library holds: Windows Sockets were started
// by this library and not yet cleaned up.
bool sockets_started = false;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    kx::load_notice notice;
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            notice = kx::load_notice::process_attach;
            break;
        // A non-null reserved argument on detach means the process is ending.
        case DLL_PROCESS_DETACH:
            notice = reserved != nullptr ? kx::load_notice::process_exit
                                         : kx::load_notice::process_detach;
            break;
        case DLL_THREAD_ATTACH:
            notice = kx::load_notice::thread_attach;
            break;
        case DLL_THREAD_DETACH:
            notice = kx::load_notice::thread_detach;
            break;
        default:
            return TRUE;
    }
    return kx::on_load_notice(notice, sockets_started, kx::platform::startup, kx::platform::cleanup)
               ? TRUE
               : FALSE;
}
