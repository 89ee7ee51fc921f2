#pragma once

#include <QtGlobal>

namespace relais {

// What the command line asks of a window that runs: a pattern, a pulse
// (`ms` 0 for the relay's own length), or the schedules paused (`mask` 1)
// or running again (0).
struct WindowRequest {
    enum class Kind { Relays, Pulse, PauseSchedules };
    Kind kind = Kind::Relays;
    quint16 mask = 0;
    int relay = 0;
    qint64 ms = 0;
};

} // namespace relais
