#include "window_remote.h"

#include "relay_bus_object.h"
#include "relay_window.h"

namespace relais {

void offerWindowToScripts(RelayWindow& window) {
    auto* busObject = new RelayBusObject(window, &window); // owned by the window
    busObject->publish(QDBusConnection::sessionBus());
}

} // namespace relais
