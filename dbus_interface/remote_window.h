#pragma once

#include "window_request.h"

#include <QString>

namespace relais {

// Asks the window that owns the bus name for a pattern or a pulse.
enum class RemoteResult { Done, NoWindow, Failed };
RemoteResult askRunningWindow(const WindowRequest& request, QString& error);

} // namespace relais
