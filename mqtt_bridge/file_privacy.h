#pragma once

#include <QString>

namespace relais::mqtt {

// Whether anyone but the file's owner (and, on Windows, SYSTEM and the
// Administrators) may read the file. True also when that cannot be told.
bool othersMayRead(const QString& path);

} // namespace relais::mqtt
