#pragma once

#include <QString>

#include <optional>

namespace relais {

// A duration as the settings and the command line write it: "500ms",
// "5s", "1.5s", "10min", "2h"; in milliseconds, none for anything else
// (no sign, no blank, a unit always).
std::optional<qint64> parseDuration(const QString& text);

// A duration as a message says it: "2 min 10 s", "1 h 5 min", "300 ms".
QString durationText(qint64 ms);

} // namespace relais
