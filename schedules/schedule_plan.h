#pragma once

#include "schedule_entry.h"

#include <QList>
#include <QString>

#include <optional>

namespace relais {

// One switching time of one entry: the runner and the preview both take
// theirs from here, so the two cannot differ.
struct Occurrence {
    enum class Edge { WindowStart, WindowEnd, Event };
    qint64 atMs = 0;
    int entry = 0; // index into Schedules::entries
    Edge edge = Edge::Event;
    QDate day;         // the day the entry fires for (a window: the day it starts)
    QString why;       // the sun's time, the clock change; empty for a plain time
    bool fires = true; // false: no sunrise or sunset that day; listed, never run
};

// The occurrences in (afterMs, untilMs], by time, then in the file's order.
QList<Occurrence> occurrencesBetween(const Schedules& schedules, qint64 afterMs, qint64 untilMs);

// What an occurrence does to each of its relays: an event its action; a
// window's edge on or off as all windows then say (another may hold it on).
struct PlannedSwitch {
    int relay = 0;
    ScheduleEntry::Action action = ScheduleEntry::Action::On;
};
QList<PlannedSwitch> switchesOf(const Schedules& schedules, const Occurrence& occurrence);

// Whether a window of any entry holds `relay` on at `atMs`; the entry
// that does, or -1.
int windowHolding(const Schedules& schedules, int relay, qint64 atMs);
// Whether any window entry covers `relay` at all.
bool relayHasWindow(const Schedules& schedules, int relay);
// The next window start or end for `relay` after `atMs`.
std::optional<qint64> nextWindowEdge(const Schedules& schedules, int relay, qint64 atMs);

} // namespace relais
