#include "durations.h"

#include <QRegularExpression>
#include <QStringList>

namespace relais {

std::optional<qint64> parseDuration(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{1,9})(?:\\.([0-9]{1,3}))?(ms|s|min|h)$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const QString unit = m.captured(3);
    const qint64 perUnit = unit == QLatin1String("ms")    ? 1
                           : unit == QLatin1String("s")   ? 1000
                           : unit == QLatin1String("min") ? 60'000
                                                          : 3'600'000;
    const QString fraction = m.captured(2);
    if (!fraction.isEmpty() && perUnit == 1) {
        return std::nullopt; // no parts of a millisecond
    }
    // Whole and fraction apart, so that 1.5s is exactly 1500 ms.
    qint64 ms = m.captured(1).toLongLong() * perUnit;
    if (!fraction.isEmpty()) {
        ms += fraction.leftJustified(3, QLatin1Char('0')).toLongLong() * perUnit / 1000;
    }
    return ms;
}

QString durationText(qint64 ms) {
    if (ms < 1000) {
        return QStringLiteral("%1 ms").arg(ms);
    }
    const qint64 seconds = (ms + 999) / 1000; // a wait is never said shorter than it is
    const qint64 h = seconds / 3600;
    const qint64 min = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    QStringList parts;
    if (h > 0) {
        parts << QStringLiteral("%1 h").arg(h);
    }
    if (min > 0) {
        parts << QStringLiteral("%1 min").arg(min);
    }
    if (s > 0 && h == 0) {
        parts << QStringLiteral("%1 s").arg(s);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace relais
