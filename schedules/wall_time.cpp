#include "wall_time.h"

namespace relais {

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

int offsetAt(const QTimeZone& zone, qint64 utcMs) {
    return zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(utcMs, QTimeZone::utc()));
}

} // namespace

QString signedHoursMinutes(int secs) {
    const int a = std::abs(secs);
    return QStringLiteral("%1%2:%3")
        .arg(secs < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(a / 3600, 2, 10, QLatin1Char('0'))
        .arg(a / 60 % 60, 2, 10, QLatin1Char('0'));
}

QDateTime wallTimeOf(qint64 utcMs, const QTimeZone& zone) {
    return QDateTime::fromMSecsSinceEpoch(utcMs, zone);
}

WallInstant resolveWallTime(const QDate& date, const QTime& time, const QTimeZone& zone) {
    // The wall time read as if it were UTC; the zone's offsets a day either
    // side bracket the one transition a day can hold.
    const qint64 naive = QDateTime(date, time, QTimeZone::utc()).toMSecsSinceEpoch();
    const int before = offsetAt(zone, naive - kDayMs);
    const int after = offsetAt(zone, naive + kDayMs);
    const qint64 withBefore = naive - qint64(before) * 1000;
    const qint64 withAfter = naive - qint64(after) * 1000;
    const bool beforeHolds = offsetAt(zone, withBefore) == before;
    const bool afterHolds = offsetAt(zone, withAfter) == after;
    WallInstant result;
    if (before == after || (beforeHolds && !afterHolds)) {
        result.utcMs = withBefore;
    } else if (afterHolds && !beforeHolds) {
        result.utcMs = withAfter;
    } else if (beforeHolds && afterHolds) {
        result.utcMs = std::min(withBefore, withAfter);
        result.fate = WallInstant::Fate::Repeated;
    } else {
        // In the gap: read with the offset before it, the instant lands
        // after it, moved by the gap's length.
        result.utcMs = withBefore;
        result.fate = WallInstant::Fate::InGap;
    }
    result.shownAs = wallTimeOf(result.utcMs, zone).time();
    return result;
}

} // namespace relais
