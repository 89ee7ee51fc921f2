#pragma once

#include <QString>

namespace relais::messages {

// Every message the program shows, in one place.

inline const QString kTitle = QStringLiteral("Korvander");

inline const QString kPortNotFound =
    QStringLiteral("Ausgewählte COM Schnittstelle nicht vorhanden");
inline const QString kPortInUse =
    QStringLiteral("Ausgewählte COM Schnittstelle wird bereits verwendet");
inline const QString kPermissionDenied =
    QStringLiteral("Keine Berechtigung für die ausgewählte COM Schnittstelle");
inline const QString kOpenFailed =
    QStringLiteral("Ausgewählte COM Schnittstelle kann nicht geöffnet werden");
inline const QString kLineLost = QStringLiteral("Verbindung zur COM Schnittstelle unterbrochen");

// Tooltip of a port list entry with no device behind it.
inline const QString kNoDevice = QStringLiteral("Keine Schnittstelle vorhanden");

} // namespace relais::messages
