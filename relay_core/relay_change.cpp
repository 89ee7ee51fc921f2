#include "relay_change.h"

namespace relais {

QString ChangeSource::text() const {
    switch (kind) {
    case Kind::WindowMouse:
        return QStringLiteral("Fenster (Maus)");
    case Kind::WindowKeyboard:
        return QStringLiteral("Fenster (Tastatur)");
    case Kind::CommandLine:
        return QStringLiteral("Befehlszeile");
    case Kind::DBus:
        return QStringLiteral("D-Bus");
    case Kind::Mqtt:
        return QStringLiteral("MQTT %1").arg(detail);
    case Kind::Web:
        return QStringLiteral("Web (%1)").arg(detail);
    case Kind::Pipe:
        return QStringLiteral("Pipe");
    case Kind::PulseEnd:
        return QStringLiteral("Impulsende");
    case Kind::MaxOn:
        return QStringLiteral("Höchstdauer erreicht");
    case Kind::Interlock:
        return QStringLiteral("Verriegelung");
    case Kind::StartUp:
        return QStringLiteral("Startzustand");
    case Kind::Schedule:
        return QStringLiteral("Zeitplan %1").arg(detail);
    case Kind::Line:
        break;
    }
    return QStringLiteral("Leitung");
}

} // namespace relais
