#pragma once

#include "command_line.h"
#include "relay_operations.h"
#include "remote_access.h"

#include <QTextStream>

#include <memory>
#include <vector>

namespace relais {

// Opens the port, sends the frame for `mask` once and closes the port again
// after the frame has left. Messages go to `err`; returns the exit code.
int sendFrames(const PortSpec& port, quint16 mask, QTextStream& err);

// Keeps the link running without a window, as the window's logic does, and
// joins the broker if the invocation names one, until the program is asked
// to end (see ShutdownWatcher) or the line goes (exit code 7). Messages go
// to `err`.
int holdRelays(const Invocation& invocation, QTextStream& err);

// The broker bridge and the web panel as the invocation asks; nothing, with
// a line on `log`, when one of them cannot work.
std::optional<std::vector<std::unique_ptr<RemoteAccess>>>
openRemoteAccess(RelayOperations& relays, const Invocation& invocation, QTextStream& log);

// Clears what the card left on the broker (--mqtt-forget): exit code 0, or
// 2 when the broker cannot be reached or refuses.
int forgetOnBroker(const Invocation& invocation, QTextStream& err);

// Fills in the broker's user and password from their file or from the
// environment (RELAISKARTE_MQTT_USER, RELAISKARTE_MQTT_PASSWORD); an error
// text when the file will not do.
std::optional<QString> loadCredentials(Invocation& invocation);

} // namespace relais
