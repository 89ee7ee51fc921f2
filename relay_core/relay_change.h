#pragma once

#include "relay_panel.h"

#include <QMetaType>
#include <QString>

#include <array>

namespace relais {

// The relays and the link as one value, as every observer is told it.
struct RelayState {
    quint16 pattern = 0;
    bool running = false;
    QString port;         // the device in use; empty while stopped
    quint64 revision = 1; // one more for each change
    // When each relay goes off by itself, in UTC milliseconds since 1970;
    // 0 where it does not.
    std::array<qint64, kRelayCount> offAt{};
    // The schedules: paused; each relay's next switching time and until
    // when it is held by hand (UTC milliseconds; 0 for none).
    bool schedulesPaused = false;
    std::array<qint64, kRelayCount> nextSwitch{};
    std::array<qint64, kRelayCount> heldUntil{};
};

// What made a change: a way in, and where there is one, who within it.
struct ChangeSource {
    enum class Kind {
        WindowMouse,
        WindowKeyboard,
        CommandLine,
        DBus,
        Mqtt,
        Web,
        Pipe,
        Line,
        PulseEnd,
        MaxOn,
        Interlock,
        StartUp,
        Schedule
    };
    Kind kind = Kind::Line;
    QString detail; // the MQTT topic; the web session's or token's owner; the schedule

    // In the words of a record: "Fenster (Maus)", "MQTT relais/3/set", ...
    QString text() const;
};

// One change as the relay core tells it: the state after it, which parts
// of it changed, and what made it.
struct RelayChange {
    RelayState state;
    quint16 flipped = 0; // the relays now other than before
    bool linkChanged = false;
    bool portChanged = false;
    bool offAtChanged = false;
    bool scheduleChanged = false; // paused, a next switching time, a hand's hold
    bool pausedChanged = false;
    ChangeSource source;
};

} // namespace relais

Q_DECLARE_METATYPE(relais::RelayChange)
