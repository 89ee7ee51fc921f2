#include "sun_times.h"

#include <cmath>
#include <numbers>

namespace relais {

namespace {

constexpr double kJ2000 = 2451545.0;       // Julian day of 2000-01-01 12:00 UTC
constexpr double kUnixEpochJd = 2440587.5; // Julian day of 1970-01-01 00:00 UTC

double radians(double degrees) {
    return degrees * std::numbers::pi / 180.0;
}
double degrees(double radians) {
    return radians * 180.0 / std::numbers::pi;
}

qint64 msOfJulianDay(double jd) {
    return qint64(std::llround((jd - kUnixEpochJd) * 86400000.0));
}

} // namespace

// The sunrise equation: mean anomaly, equation of the centre, ecliptic
// longitude, the sun's declination, and the hour angle at which its rim
// (-0.833 degrees) crosses the horizon.
SunTimes sunTimes(const QDate& date, double latitude, double longitude) {
    const double meanNoon = double(date.toJulianDay()) - kJ2000 - longitude / 360.0;
    const double anomaly = std::fmod(357.5291 + 0.98560028 * meanNoon, 360.0);
    const double m = radians(anomaly);
    const double centre =
        1.9148 * std::sin(m) + 0.0200 * std::sin(2 * m) + 0.0003 * std::sin(3 * m);
    const double eclipticLongitude = radians(std::fmod(anomaly + centre + 180.0 + 102.9372, 360.0));
    const double transit =
        kJ2000 + meanNoon + 0.0053 * std::sin(m) - 0.0069 * std::sin(2 * eclipticLongitude);
    const double declination = std::asin(std::sin(eclipticLongitude) * std::sin(radians(23.4397)));
    const double phi = radians(latitude);
    const double cosHourAngle =
        (std::sin(radians(-0.833)) - std::sin(phi) * std::sin(declination)) /
        (std::cos(phi) * std::cos(declination));
    SunTimes result;
    if (cosHourAngle < -1.0 || cosHourAngle > 1.0) {
        result.polarDay = cosHourAngle < -1.0;
        return result;
    }
    const double hourAngle = degrees(std::acos(cosHourAngle));
    result.rise = msOfJulianDay(transit - hourAngle / 360.0);
    result.set = msOfJulianDay(transit + hourAngle / 360.0);
    return result;
}

} // namespace relais
