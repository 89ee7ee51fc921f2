#include "window_remote.h"

#include "relay_bus_object.h"

namespace relais {

void offerWindowToScripts(RelayWindow& window) {
    auto* busObject = new RelayBusObject(window); // owned by the window
    busObject->publish(QDBusConnection::sessionBus());
}

} // namespace relais
