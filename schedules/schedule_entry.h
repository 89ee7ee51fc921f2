#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QTime>
#include <QTimeZone>

namespace relais {

// When in a day: a wall-clock time, or sunrise or sunset moved by an offset.
struct DayTime {
    enum class Kind { Clock, Sunrise, Sunset };
    Kind kind = Kind::Clock;
    QTime clock;        // Clock
    int offsetSecs = 0; // Sunrise, Sunset: before (<0) or after
};

// One [schedule.NAME] section: a time window or an event, on some days.
struct ScheduleEntry {
    enum class Action { On, Off, Toggle, Pulse };
    QString name;
    int line = 0; // of its section header, for the record and the preview
    quint16 relays = 0;
    quint8 days = 0x7f; // bit 0 Monday ... bit 6 Sunday
    QDate from, until;  // invalid: open
    QTimeZone zone;
    bool isWindow = false;
    DayTime start, end; // end: windows only
    Action action = Action::On;
    qint64 pulseMs = 0;
    bool windowCatchUp = true; // windows: apply what they say after a gap
    qint64 eventCatchUpMs = 0; // events: run once if missed by less than this

    bool onDay(const QDate& day) const {
        return (days & (1 << (day.dayOfWeek() - 1))) && (!from.isValid() || day >= from) &&
               (!until.isValid() || day <= until);
    }
};

struct Location {
    bool given = false;
    double latitude = 0;
    double longitude = 0;
};

struct Schedules {
    QList<ScheduleEntry> entries;
    Location location;
    QString file; // where they were read, for the preview's reasons
};

} // namespace relais
