#pragma once

#include "command_line.h"

#include <QTextStream>

namespace relais {

// Opens the port, sends the frame for `mask` and closes the port again:
// once, after the frame has left; or with `hold`, every 100 ms until the
// event loop is told to quit. Messages go to `err`; returns the exit code.
int sendFrames(const PortSpec& port, quint16 mask, bool hold, QTextStream& err);

} // namespace relais
