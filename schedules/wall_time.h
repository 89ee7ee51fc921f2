#pragma once

#include <QDate>
#include <QTime>
#include <QTimeZone>

namespace relais {

// A wall-clock time on a date in a zone, as an instant. The clock change
// is decided here, once: a time that does not exist on the spring night is
// the same instant moved by the gap (02:30 is 03:30 summer time); a time
// that occurs twice on the autumn night is its first occurrence.
struct WallInstant {
    enum class Fate { Plain, InGap, Repeated };
    qint64 utcMs = 0;
    Fate fate = Fate::Plain;
    QTime shownAs; // the wall time of the instant (differs in a gap)
};

WallInstant resolveWallTime(const QDate& date, const QTime& time, const QTimeZone& zone);

// Seconds as a signed "+HH:MM" ("-00:30"), for UTC offsets and the sun's.
QString signedHoursMinutes(int secs);

// An instant as wall time in a zone.
QDateTime wallTimeOf(qint64 utcMs, const QTimeZone& zone);

} // namespace relais
