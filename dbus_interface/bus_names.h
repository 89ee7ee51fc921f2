#pragma once

#include <QString>

namespace relais::bus {

// Where scripts find the running window on the session bus.
inline const QString kService = QStringLiteral("de.korvander.Relaiskarte");
inline const QString kPath = QStringLiteral("/Relaiskarte");
inline const QString kInterface = QStringLiteral("de.korvander.Relaiskarte1");

// The error name for a failed opening, by its number.
QString errorName(int number);

} // namespace relais::bus
