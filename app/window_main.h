#pragma once

#include "command_line.h"

// The entry of the window module: the program's main() loads the module
// and calls this, so that only the window pulls in the GUI libraries.
// `invocation` says which broker and panel to open. Returns the exit code.
extern "C" int relaiskarteRunWindow(int argc, char** argv, const relais::Invocation& invocation);
using RunWindowFunction = int (*)(int, char**, const relais::Invocation&);
inline constexpr char kRunWindowSymbol[] = "relaiskarteRunWindow";
