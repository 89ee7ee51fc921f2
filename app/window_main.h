#pragma once

#include "bridge_options.h"

// The entry of the window module: the program's main() loads the module
// and calls this, so that only the window pulls in the GUI libraries.
// `broker` is null when no broker is to be joined. Returns the exit code.
extern "C" int relaiskarteRunWindow(int argc, char** argv,
                                    const relais::mqtt::BridgeOptions* broker);
using RunWindowFunction = int (*)(int, char**, const relais::mqtt::BridgeOptions*);
inline constexpr char kRunWindowSymbol[] = "relaiskarteRunWindow";
