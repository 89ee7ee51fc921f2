#pragma once

#include "relay_rules.h"
#include "schedule_plan.h"

#include <QJsonArray>
#include <QStringList>

namespace relais {

// One coming switching time as the preview shows it, from the same plan
// the runner follows.
struct PreviewRow {
    qint64 atMs = 0;
    QDateTime local; // in the entry's zone
    int relay = 0;
    ScheduleEntry::Action action = ScheduleEntry::Action::On;
    qint64 pulseMs = 0;
    int entry = 0;
    bool fires = true;
    QString why;          // the entry's line, the sun's time, the clock change
    QStringList warnings; // where a rule would cut it short
};

QList<PreviewRow> previewRows(const Schedules& schedules, const RelayRules& rules, qint64 fromMs,
                              int days);
// "Mo 29.03.2026 03:30 +02:00  Relais 5 (Garten) an  Abendlicht (Zeile 12; …)"
QStringList previewLines(const QList<PreviewRow>& rows, const Schedules& schedules,
                         const RelayRules& rules);
QJsonArray previewJson(const QList<PreviewRow>& rows, const Schedules& schedules,
                       const RelayRules& rules);
// "an", "aus", "umschalten", "Impuls 5 s"
QString actionText(ScheduleEntry::Action action, qint64 pulseMs);

} // namespace relais
