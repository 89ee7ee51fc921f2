#include "line_settings.h"

#include <QStringList>

namespace relais {

std::optional<LineSettings> parseLineSettings(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 4) {
        return std::nullopt;
    }
    LineSettings s;

    const QString& baud = fields[0];
    bool ok = !baud.isEmpty() && baud.size() <= 7;
    for (const QChar c : baud) {
        ok = ok && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    }
    s.baudRate = ok ? baud.toInt() : 0;
    if (s.baudRate <= 0) {
        return std::nullopt;
    }

    const QString parity = fields[1].toLower();
    if (parity == QLatin1String("n")) {
        s.parity = LineSettings::Parity::None;
    } else if (parity == QLatin1String("e")) {
        s.parity = LineSettings::Parity::Even;
    } else if (parity == QLatin1String("o")) {
        s.parity = LineSettings::Parity::Odd;
    } else if (parity == QLatin1String("m")) {
        s.parity = LineSettings::Parity::Mark;
    } else if (parity == QLatin1String("s")) {
        s.parity = LineSettings::Parity::Space;
    } else {
        return std::nullopt;
    }

    if (fields[2].size() != 1 || fields[2][0] < QLatin1Char('5') ||
        fields[2][0] > QLatin1Char('8')) {
        return std::nullopt;
    }
    s.dataBits = fields[2].toInt();

    if (fields[3] == QLatin1String("1")) {
        s.stopBits = LineSettings::StopBits::One;
    } else if (fields[3] == QLatin1String("1.5")) {
        s.stopBits = LineSettings::StopBits::OneAndHalf;
    } else if (fields[3] == QLatin1String("2")) {
        s.stopBits = LineSettings::StopBits::Two;
    } else {
        return std::nullopt;
    }
    return s;
}

} // namespace relais
