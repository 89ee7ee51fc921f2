#pragma once

#include <QString>

namespace relais {

// Sets the relay pattern of the window that owns the bus name.
enum class RemoteResult { Done, NoWindow, Failed };
RemoteResult setRelaysInRunningWindow(quint16 mask, QString& error);

} // namespace relais
