#pragma once

#include <QDate>

#include <optional>

namespace relais {

// Sunrise and sunset (the sun's upper rim at the horizon, with the usual
// refraction) on the day whose local solar noon falls on `date`, as UTC
// milliseconds; none on a day the sun does not rise or does not set.
// Good to about a minute away from the poles.
struct SunTimes {
    std::optional<qint64> rise;
    std::optional<qint64> set;
    bool polarDay = false; // no rise and no set: up all day (else down all day)
};

SunTimes sunTimes(const QDate& date, double latitude, double longitude);

} // namespace relais
