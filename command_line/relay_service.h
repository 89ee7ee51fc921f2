#pragma once

#include "command_line.h"

#include <QTextStream>

namespace relais {

// Keeps the link running without a window, as the window's logic does, and
// joins the broker and opens the web panel if the invocation asks, until
// the program is asked to end (see ShutdownWatcher) or the line goes (exit
// code 7). Messages go to `err`.
int holdRelays(const Invocation& invocation, QTextStream& err);

} // namespace relais
