#pragma once

#include <QJsonArray>
#include <QString>

namespace relais {

// Why pausing is refused where there are no schedules.
inline const QString kNoSchedules = QStringLiteral("Keine Zeitpläne eingestellt.");

// The schedules as the ways in see them: paused or not, what comes next.
// Given to the relay core by whoever runs them; none without schedules.
class ScheduleControl {
public:
    virtual ~ScheduleControl() = default;
    virtual bool paused() const = 0;
    virtual void setPaused(bool paused) = 0;
    // The coming switching times of the next `days` days, as the web API
    // and D-Bus give them.
    virtual QJsonArray coming(int days) const = 0;
    // A relay's next switching time, UTC milliseconds; 0 for none.
    virtual qint64 nextSwitch(int relay) const = 0;
    // Until when a relay switched by hand keeps its state; 0 where it does not.
    virtual qint64 heldUntil(int relay) const = 0;
    // The relays some schedule switches.
    virtual quint16 scheduledRelays() const = 0;
};

} // namespace relais
