#pragma once

#include "port_resolver.h"

#include <QString>

namespace relais::texts {

// The window's own texts. Messages are in messages.h.

inline const QString kWindowTitle = QStringLiteral("Relaiskarte 16 von Korvander");
inline const QString kFrameTitle = QStringLiteral("C-Control II --> Relais 1-16");
inline const QString kPortPrompt = QStringLiteral("COM Auswahl");
inline QString portItem(int port) {
    return comName(port);
}
inline QString relayCaption(int relay) {
    return QStringLiteral("Relais-%1").arg(relay);
}
inline const QString kStartStop = QStringLiteral("Start/Stop");
inline const QString kQuit = QStringLiteral("Beenden");
inline const QString kTest = QStringLiteral("Testen");
inline const QString kLabel1 = QStringLiteral("Label1");
inline const QString kLabel2 = QStringLiteral("Label2");

// What assistive technology hears besides what the screen shows.
inline const QString kRelayOn = QStringLiteral("eingeschaltet");
inline const QString kRelayOff = QStringLiteral("ausgeschaltet");
inline const QString kLinkRunning = QStringLiteral("Verbindung läuft");
inline const QString kLinkStopped = QStringLiteral("Verbindung gestoppt");
inline const QString kLogoName = QStringLiteral("Logo Korvander");
inline const QString kFrameName = QStringLiteral("C-Control II, Relais 1 bis 16");
inline const QString kPortListName = QStringLiteral("Schnittstelle");

} // namespace relais::texts
