#pragma once

#include "command_line.h"

#include <QTextStream>

namespace relais {

// --pulse with --port: opens the port, switches the relay on, sends every
// 100 ms until the pulse ends, sends the "off", and closes the port.
// Messages go to `err`; returns the exit code.
int pulseOnce(const Invocation& invocation, QTextStream& err);

} // namespace relais
