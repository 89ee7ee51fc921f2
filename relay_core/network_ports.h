#pragma once

#include "port_resolver.h"

#include <QStringList>

#include <optional>

namespace relais {

// Whether a port named from the network (the web API, the broker) may be
// opened: COM 1 to COM 8, a device behind one of them, a name under
// /dev/serial/by-id/ or /dev/serial/by-path/, or the known port (given at
// start or last run on). Any other device, another terminal among them, can
// do harm by being opened at all. `systemPorts`: the devices behind COM 1
// to COM 8. Locally every path stays allowed.
bool allowedFromNetwork(const PortSpec& port, const QStringList& systemPorts,
                        const std::optional<PortSpec>& knownPort);

} // namespace relais
