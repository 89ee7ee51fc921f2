#pragma once

#include <QTextStream>

namespace relais {

// --relays without --port: sets the pattern in the window that runs, where
// the system offers a way to it. Messages go to `err`; returns the exit code.
int setRelaysInWindow(quint16 mask, QTextStream& err);

} // namespace relais
