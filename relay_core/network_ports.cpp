#include "network_ports.h"

#include <QRegularExpression>

namespace relais {

bool allowedFromNetwork(const PortSpec& port, const QStringList& systemPorts,
                        const std::optional<PortSpec>& knownPort) {
    if (port.number > 0) {
        return true;
    }
    if (port.device.isEmpty()) {
        return false;
    }
    if (knownPort && knownPort->number == 0 && knownPort->device == port.device) {
        return true;
    }
    if (systemPorts.contains(port.device)) {
        return true;
    }
    // udev's stable names for serial devices; one name, no way out of the folder.
    static const QRegularExpression stableName(
        QStringLiteral("^/dev/serial/by-(id|path)/(?!\\.\\.?$)[A-Za-z0-9._:+-]+$"));
    return stableName.match(port.device).hasMatch();
}

} // namespace relais
