#include "schedule_plan.h"

#include "relay_panel.h"
#include "sun_times.h"
#include "wall_time.h"

#include <algorithm>

namespace relais {

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

struct DayInstant {
    std::optional<qint64> at;
    QString why;
};

QString dateText(const QDate& day) {
    return day.toString(QStringLiteral("dd.MM.yyyy"));
}

// " +00:15" after the sun's time; nothing for no offset.
QString offsetText(int secs) {
    return secs == 0 ? QString() : QLatin1Char(' ') + signedHoursMinutes(secs);
}

DayInstant sunInstant(const ScheduleEntry& entry, const DayTime& time, const QDate& day,
                      const Location& place) {
    const bool rise = time.kind == DayTime::Kind::Sunrise;
    const SunTimes sun = sunTimes(day, place.latitude, place.longitude);
    const auto at = rise ? sun.rise : sun.set;
    if (!at) {
        return {std::nullopt,
                QStringLiteral("am %1 geht die Sonne nicht %2")
                    .arg(dateText(day), rise ? QStringLiteral("auf") : QStringLiteral("unter"))};
    }
    const QString hhmm = wallTimeOf(*at, entry.zone).toString(QStringLiteral("HH:mm"));
    return {*at + qint64(time.offsetSecs) * 1000,
            QStringLiteral("%1 %2%3").arg(rise ? QStringLiteral("Sonnenaufgang")
                                               : QStringLiteral("Sonnenuntergang"),
                                          hhmm, offsetText(time.offsetSecs))};
}

DayInstant instantOn(const ScheduleEntry& entry, const DayTime& time, const QDate& day,
                     const Location& place) {
    if (time.kind != DayTime::Kind::Clock) {
        return sunInstant(entry, time, day, place);
    }
    const WallInstant wall = resolveWallTime(day, time.clock, entry.zone);
    const QString written = time.clock.toString(time.clock.second() ? QStringLiteral("HH:mm:ss")
                                                                    : QStringLiteral("HH:mm"));
    QString why;
    if (wall.fate == WallInstant::Fate::InGap) {
        why = QStringLiteral("%1 gibt es am %2 nicht, also %3")
                  .arg(written, dateText(day),
                       wall.shownAs.toString(time.clock.second() ? QStringLiteral("HH:mm:ss")
                                                                 : QStringLiteral("HH:mm")));
    } else if (wall.fate == WallInstant::Fate::Repeated) {
        why = QStringLiteral("%1 gibt es am %2 zweimal, also beim ersten Mal")
                  .arg(written, dateText(day));
    }
    return {wall.utcMs, why};
}

// A window's instance that starts on `day`: [start, end), or none.
struct Span {
    DayInstant start, end;
};
Span windowOn(const ScheduleEntry& entry, const QDate& day, const Location& place) {
    Span span{instantOn(entry, entry.start, day, place), instantOn(entry, entry.end, day, place)};
    if (span.start.at && span.end.at && *span.end.at <= *span.start.at) {
        span.end = instantOn(entry, entry.end, day.addDays(1), place);
    }
    return span;
}

template <typename Visit>
void forEachDay(const ScheduleEntry& entry, qint64 afterMs, qint64 untilMs, Visit visit) {
    const QDate first = wallTimeOf(afterMs, entry.zone).date().addDays(-2);
    const QDate last = wallTimeOf(untilMs, entry.zone).date().addDays(1);
    for (QDate day = first; day <= last; day = day.addDays(1)) {
        if (entry.onDay(day)) {
            visit(day);
        }
    }
}

} // namespace

QList<Occurrence> occurrencesBetween(const Schedules& schedules, qint64 afterMs, qint64 untilMs) {
    QList<Occurrence> found;
    const auto add = [&](const DayInstant& at, int index, Occurrence::Edge edge, const QDate& day) {
        // A day without the sun's time is listed at that day's noon.
        const qint64 when = at.at.value_or(
            QDateTime(day, QTime(12, 0), schedules.entries[index].zone).toMSecsSinceEpoch());
        if (when > afterMs && when <= untilMs) {
            found.append({when, index, edge, day, at.why, at.at.has_value()});
        }
    };
    for (int i = 0; i < schedules.entries.size(); ++i) {
        const ScheduleEntry& entry = schedules.entries[i];
        forEachDay(entry, afterMs, untilMs, [&](const QDate& day) {
            if (!entry.isWindow) {
                add(instantOn(entry, entry.start, day, schedules.location), i,
                    Occurrence::Edge::Event, day);
                return;
            }
            const Span span = windowOn(entry, day, schedules.location);
            if (!span.start.at || !span.end.at) {
                add(span.start.at ? span.end : span.start, i, Occurrence::Edge::WindowStart, day);
                return;
            }
            add(span.start, i, Occurrence::Edge::WindowStart, day);
            add(span.end, i, Occurrence::Edge::WindowEnd, day);
        });
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Occurrence& a, const Occurrence& b) { return a.atMs < b.atMs; });
    return found;
}

int windowHolding(const Schedules& schedules, int relay, qint64 atMs) {
    for (int i = 0; i < schedules.entries.size(); ++i) {
        const ScheduleEntry& entry = schedules.entries[i];
        if (!entry.isWindow || !(entry.relays & relayWeight(relay))) {
            continue;
        }
        const QDate today = wallTimeOf(atMs, entry.zone).date();
        for (QDate day = today.addDays(-2); day <= today; day = day.addDays(1)) {
            if (!entry.onDay(day)) {
                continue;
            }
            const Span span = windowOn(entry, day, schedules.location);
            if (span.start.at && span.end.at && *span.start.at <= atMs && atMs < *span.end.at) {
                return i;
            }
        }
    }
    return -1;
}

QList<PlannedSwitch> switchesOf(const Schedules& schedules, const Occurrence& occurrence) {
    const ScheduleEntry& entry = schedules.entries[occurrence.entry];
    QList<PlannedSwitch> switches;
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        if (!(entry.relays & relayWeight(relay))) {
            continue;
        }
        if (!entry.isWindow) {
            switches.append({relay, entry.action});
        } else {
            const bool on = windowHolding(schedules, relay, occurrence.atMs) >= 0;
            switches.append({relay, on ? ScheduleEntry::Action::On : ScheduleEntry::Action::Off});
        }
    }
    return switches;
}

bool relayHasWindow(const Schedules& schedules, int relay) {
    return std::any_of(schedules.entries.begin(), schedules.entries.end(), [&](const auto& e) {
        return e.isWindow && (e.relays & relayWeight(relay));
    });
}

std::optional<qint64> nextWindowEdge(const Schedules& schedules, int relay, qint64 atMs) {
    for (const Occurrence& o : occurrencesBetween(schedules, atMs, atMs + 8 * kDayMs)) {
        const ScheduleEntry& entry = schedules.entries[o.entry];
        if (o.fires && entry.isWindow && (entry.relays & relayWeight(relay))) {
            return o.atMs;
        }
    }
    return std::nullopt;
}

} // namespace relais
