#pragma once

namespace relais {

// How the program ends when run from a script.
enum ExitCode : int {
    kExitOk = 0,
    kExitWindowFailed = 1, // the running window refused the pattern
    kExitUsage = 2,        // bad input, or no window to send to; no port was opened
    kExitPortNotFound = 3,
    kExitPortInUse = 4,
    kExitPermissionDenied = 5,
    kExitOpenFailed = 6,
    kExitLineLost = 7,
};

} // namespace relais
