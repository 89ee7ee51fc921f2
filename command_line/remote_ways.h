#pragma once

#include "command_line.h"
#include "relay_operations.h"
#include "remote_access.h"

#include <QTextStream>

#include <memory>
#include <optional>
#include <vector>

namespace relais {

// What a way in that cannot work does to the others: the service ends
// rather than run half-deaf; the window runs on without it.
enum class MissingWay { EndsAll, LeftOut };

// The broker bridge and the web panel as the invocation asks; a way that
// cannot work has said why on `log`.
std::optional<std::vector<std::unique_ptr<RemoteAccess>>>
openRemoteAccess(RelayOperations& relays, const Invocation& invocation, QTextStream& log,
                 MissingWay missing);

// Clears what the card left on the broker (--mqtt-forget): exit code 0, or
// 2 when the broker cannot be reached or refuses.
int forgetOnBroker(const Invocation& invocation, QTextStream& err);

// Fills in the broker's user and password from their file or from the
// environment (RELAISKARTE_MQTT_USER, RELAISKARTE_MQTT_PASSWORD); an error
// text when the file will not do.
std::optional<QString> loadCredentials(Invocation& invocation);

} // namespace relais
