#pragma once

#include <QtGlobal>

namespace relais {

// What the command line asks of a window that runs: a pattern, or a pulse
// (`ms` 0 for the relay's own length).
struct WindowRequest {
    enum class Kind { Relays, Pulse };
    Kind kind = Kind::Relays;
    quint16 mask = 0;
    int relay = 0;
    qint64 ms = 0;
};

} // namespace relais
