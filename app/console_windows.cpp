#include "console.h"

#include <cstdio>

#include <windows.h>

namespace relais {

namespace {

bool usable(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

// A GUI program gets no console, so cmd.exe or PowerShell would show none
// of its lines. It joins the caller's console, which also brings Ctrl+C;
// output already led elsewhere (a file, a pipe, relaiskarte.com's console)
// stays where it goes.
void joinCallersConsole() {
    const bool outUsable = usable(STD_OUTPUT_HANDLE);
    const bool errUsable = usable(STD_ERROR_HANDLE);
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) {
        return; // started from Explorer or the Start menu: no console, none wanted
    }
    if (!outUsable) {
        std::freopen("CONOUT$", "w", stdout);
    }
    if (!errUsable) {
        std::freopen("CONOUT$", "w", stderr);
    }
}

} // namespace relais
