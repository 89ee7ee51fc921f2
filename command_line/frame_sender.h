#pragma once

#include "command_line.h"
#include "port_resolver.h"

#include <QTextStream>

namespace relais {

// Opens the port, sends the frame for `mask` once and closes the port again
// after the frame has left. Messages go to `err`; returns the exit code.
int sendFrames(const PortSpec& port, quint16 mask, QTextStream& err);

} // namespace relais
