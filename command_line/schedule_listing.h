#pragma once

#include "command_line.h"

#include <QTextStream>

namespace relais {

// --schedule-preview: the coming switching times, one a line.
int listSchedules(const Invocation& invocation, QTextStream& out);

} // namespace relais
