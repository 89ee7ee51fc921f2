#include "schedule_preview.h"

#include "durations.h"
#include "wall_time.h"

#include <QJsonObject>

namespace relais {

namespace {

constexpr qint64 kDayMs = 24LL * 3600 * 1000;

// Where a rule cuts a window's "on" short: a maximum on-time shorter than
// the window, another member of the relay's interlock group on as well.
QStringList warningsFor(const Schedules& schedules, const RelayRules& rules, const Occurrence& o,
                        int relay) {
    QStringList warnings;
    const ScheduleEntry& entry = schedules.entries[o.entry];
    if (!entry.isWindow || o.edge != Occurrence::Edge::WindowStart) {
        return warnings;
    }
    const qint64 maxOn = rules.relays[relay - 1].maxOnMs;
    const auto ends = occurrencesBetween(schedules, o.atMs, o.atMs + 2 * kDayMs);
    for (const Occurrence& end : ends) {
        if (end.entry == o.entry && end.edge == Occurrence::Edge::WindowEnd) {
            if (maxOn > 0 && end.atMs - o.atMs > maxOn) {
                warnings << QStringLiteral("Höchstdauer %1 beendet das Fenster schon um %2")
                                .arg(durationText(maxOn), wallTimeOf(o.atMs + maxOn, entry.zone)
                                                              .toString(QStringLiteral("HH:mm")));
            }
            break;
        }
    }
    if (const InterlockGroup* group = rules.groupOf(relay)) {
        for (int other = 1; other <= kRelayCount; ++other) {
            if (other != relay && (group->members & relayWeight(other)) &&
                windowHolding(schedules, other, o.atMs) >= 0) {
                warnings << QStringLiteral("%1 ist dann auch an: Verriegelung »%2«")
                                .arg(rules.label(other), group->name);
            }
        }
    }
    return warnings;
}

} // namespace

QString actionText(ScheduleEntry::Action action, qint64 pulseMs) {
    switch (action) {
    case ScheduleEntry::Action::On:
        return QStringLiteral("an");
    case ScheduleEntry::Action::Off:
        return QStringLiteral("aus");
    case ScheduleEntry::Action::Toggle:
        return QStringLiteral("umschalten");
    case ScheduleEntry::Action::Pulse:
        break;
    }
    return QStringLiteral("Impuls %1").arg(durationText(pulseMs));
}

QList<PreviewRow> previewRows(const Schedules& schedules, const RelayRules& rules, qint64 fromMs,
                              int days) {
    QList<PreviewRow> rows;
    for (const Occurrence& o : occurrencesBetween(schedules, fromMs - 1, fromMs + days * kDayMs)) {
        const ScheduleEntry& entry = schedules.entries[o.entry];
        const QString line = QStringLiteral("Zeile %1").arg(entry.line);
        const QString why = o.why.isEmpty() ? line : line + QStringLiteral("; ") + o.why;
        if (!o.fires) {
            rows.append({o.atMs,
                         wallTimeOf(o.atMs, entry.zone),
                         0,
                         entry.action,
                         entry.pulseMs,
                         o.entry,
                         false,
                         why,
                         {}});
            continue;
        }
        for (const PlannedSwitch& s : switchesOf(schedules, o)) {
            rows.append({o.atMs, wallTimeOf(o.atMs, entry.zone), s.relay, s.action, entry.pulseMs,
                         o.entry, true, why, warningsFor(schedules, rules, o, s.relay)});
        }
    }
    return rows;
}

QStringList previewLines(const QList<PreviewRow>& rows, const Schedules& schedules,
                         const RelayRules& rules) {
    QStringList lines;
    for (const PreviewRow& row : rows) {
        const QString when = QStringLiteral("%1 %2").arg(
            QLocale(QLocale::German).toString(row.local, QStringLiteral("ddd dd.MM.yyyy HH:mm")),
            signedHoursMinutes(row.local.offsetFromUtc()));
        const QString name = schedules.entries[row.entry].name;
        QString what = row.fires ? QStringLiteral("%1 %2").arg(rules.label(row.relay),
                                                               actionText(row.action, row.pulseMs))
                                 : QStringLiteral("entfällt");
        QString line = QStringLiteral("%1  %2  %3 (%4)").arg(when, what, name, row.why);
        for (const QString& warning : row.warnings) {
            line += QStringLiteral("  Warnung: ") + warning;
        }
        lines << line;
    }
    return lines;
}

QJsonArray previewJson(const QList<PreviewRow>& rows, const Schedules& schedules,
                       const RelayRules& rules) {
    QJsonArray list;
    for (const PreviewRow& row : rows) {
        list.append(QJsonObject{
            {QStringLiteral("at"), row.local.toString(Qt::ISODate)},
            {QStringLiteral("at_ms"), double(row.atMs)},
            {QStringLiteral("relay"), row.fires ? QJsonValue(row.relay) : QJsonValue()},
            {QStringLiteral("name"), row.fires && !rules.relays[row.relay - 1].name.isEmpty()
                                         ? QJsonValue(rules.relays[row.relay - 1].name)
                                         : QJsonValue()},
            {QStringLiteral("action"),
             row.fires ? actionText(row.action, row.pulseMs) : QStringLiteral("entfällt")},
            {QStringLiteral("schedule"), schedules.entries[row.entry].name},
            {QStringLiteral("why"), row.why},
            {QStringLiteral("warnings"), QJsonArray::fromStringList(row.warnings)},
        });
    }
    return list;
}

} // namespace relais
