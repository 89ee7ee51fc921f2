#include "schedule_listing.h"

#include "schedule_control.h"
#include "schedule_preview.h"

namespace relais {

int listSchedules(const Invocation& invocation, QTextStream& out) {
    if (invocation.schedules.entries.isEmpty()) {
        out << kNoSchedules << Qt::endl;
        return kExitOk;
    }
    const qint64 from = QDateTime(invocation.previewFrom, QTime(0, 0), QTimeZone::systemTimeZone())
                            .toMSecsSinceEpoch();
    const auto rows =
        previewRows(invocation.schedules, invocation.rules, from, invocation.previewDays);
    for (const QString& line : previewLines(rows, invocation.schedules, invocation.rules)) {
        out << line << Qt::endl;
    }
    return kExitOk;
}

} // namespace relais
