#pragma once

#include "window_request.h"

#include <QTextStream>

namespace relais {

// --relays or --pulse without --port: asks the window that runs, where the
// system offers a way to it. Messages go to `err`; returns the exit code.
int sendToWindow(const WindowRequest& request, QTextStream& err);

} // namespace relais
