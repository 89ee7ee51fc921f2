#include "command_line.h"

#include "relay_panel.h"
#include "serial_control.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace relais {

namespace {

const QString kDescription = QStringLiteral(
    "Schaltet die sechzehn Relais der Relaiskarte. Ohne Argumente öffnet sich das Fenster.\n"
    "\n"
    "  relaiskarte --ports                          zeigt, welches Gerät COM 1 bis COM 8 ist\n"
    "  relaiskarte --port \"COM 1\" --relays 3,16     sendet das Muster einmal\n"
    "  relaiskarte --port /dev/ttyUSB0 --mask 4 --hold\n"
    "                                               sendet alle 100 ms bis SIGINT/SIGTERM\n"
    "  relaiskarte --relays 1,2                     setzt das Muster im laufenden Fenster\n"
    "\n"
    "Rückgabewerte: 0 erledigt, 1 das Fenster lehnt ab, 2 falsche Eingabe oder kein Fenster,\n"
    "3 Schnittstelle nicht vorhanden, 4 bereits verwendet, 5 keine Berechtigung,\n"
    "6 kann nicht geöffnet werden, 7 Verbindung unterbrochen.");

Invocation failure(const QString& text) {
    Invocation result;
    result.action = Invocation::Action::Error;
    result.text = text;
    return result;
}

} // namespace

int exitCodeFor(int errorNumber) {
    switch (errorNumber) {
    case kErrPortNotFound:
        return kExitPortNotFound;
    case kErrPortInUse:
        return kExitPortInUse;
    case kErrPermissionDenied:
        return kExitPermissionDenied;
    case kErrLineLost:
        return kExitLineLost;
    default:
        return kExitOpenFailed;
    }
}

std::optional<quint16> parseRelayList(const QString& text) {
    if (text.trimmed() == QLatin1String("-")) {
        return quint16(0);
    }
    int mask = 0;
    for (const QString& part : text.split(QLatin1Char(','))) {
        bool ok = false;
        const int relay = part.trimmed().toInt(&ok);
        if (!ok || relay < 1 || relay > kRelayCount) {
            return std::nullopt;
        }
        mask |= relayWeight(relay);
    }
    return quint16(mask);
}

Invocation parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption ports(QStringLiteral("ports"),
                                   QStringLiteral("Zeigt COM 1 bis COM 8 und ihre Geräte."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Die Schnittstelle: COM 1 bis COM 8 (auch COM1 oder 1) oder ein Gerät."),
        QStringLiteral("PORT"));
    const QCommandLineOption relays(
        QStringLiteral("relays"),
        QStringLiteral("Die eingeschalteten Relais, durch Kommas getrennt (1 bis 16), oder - für "
                       "alle aus."),
        QStringLiteral("LISTE"));
    const QCommandLineOption mask(QStringLiteral("mask"),
                                  QStringLiteral("Das Muster als Zahl von 0 bis 65535."),
                                  QStringLiteral("N"));
    const QCommandLineOption hold(
        QStringLiteral("hold"),
        QStringLiteral("Sendet weiter alle 100 ms, bis SIGINT oder SIGTERM kommt."));
    parser.addOptions({ports, port, relays, mask, hold});

    if (!parser.parse(arguments)) {
        return failure(parser.errorText());
    }
    Invocation result;
    if (parser.isSet(help)) {
        result.action = Invocation::Action::Help;
        // The usage line names the program, not the path it was started by
        // (the parser takes that from the application, not from `arguments`).
        result.text = parser.helpText();
        const QString startedAs = QCoreApplication::arguments().value(0);
        const qsizetype at = result.text.indexOf(startedAs);
        if (at >= 0 && !startedAs.isEmpty()) {
            result.text.replace(at, startedAs.size(), QStringLiteral("relaiskarte"));
        }
        return result;
    }
    if (parser.isSet(version)) {
        result.action = Invocation::Action::Version;
        result.text = QCoreApplication::applicationName() + QLatin1Char(' ') +
                      QCoreApplication::applicationVersion();
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        return failure(QStringLiteral("Unerwartetes Argument »%1«.")
                           .arg(parser.positionalArguments().first()));
    }
    for (const QCommandLineOption* single : {&port, &relays, &mask}) {
        if (parser.values(*single).size() > 1) {
            return failure(
                QStringLiteral("--%1 darf nur einmal stehen.").arg(single->names().first()));
        }
    }
    if (parser.isSet(ports)) {
        if (parser.isSet(port) || parser.isSet(relays) || parser.isSet(mask) ||
            parser.isSet(hold)) {
            return failure(QStringLiteral("--ports steht allein."));
        }
        result.action = Invocation::Action::ListPorts;
        return result;
    }
    if (parser.isSet(relays) && parser.isSet(mask)) {
        return failure(QStringLiteral("--relays und --mask schließen einander aus."));
    }
    if (parser.isSet(relays)) {
        const auto parsed = parseRelayList(parser.value(relays));
        if (!parsed) {
            return failure(
                QStringLiteral("Ungültige Relaisliste »%1«: erlaubt sind 1 bis 16, durch "
                               "Kommas getrennt, oder -.")
                    .arg(parser.value(relays)));
        }
        result.mask = *parsed;
    } else if (parser.isSet(mask)) {
        bool ok = false;
        const uint value = parser.value(mask).toUInt(&ok);
        if (!ok || value > 0xFFFFu) {
            return failure(QStringLiteral("Ungültige Maske »%1«: erlaubt sind 0 bis 65535.")
                               .arg(parser.value(mask)));
        }
        result.mask = quint16(value);
    } else if (parser.isSet(port) || parser.isSet(hold)) {
        return failure(QStringLiteral("Es fehlt --relays oder --mask."));
    }
    if (!parser.isSet(port)) {
        if (parser.isSet(hold)) {
            return failure(QStringLiteral("--hold braucht --port."));
        }
        result.action = parser.isSet(relays) || parser.isSet(mask)
                            ? Invocation::Action::SendToWindow
                            : Invocation::Action::Window;
        return result;
    }
    const auto requested = parsePortSpec(parser.value(port));
    if (!requested) {
        return failure(QStringLiteral("Ungültige Schnittstelle »%1«: erlaubt sind COM 1 bis COM 8 "
                                      "oder ein Gerätepfad.")
                           .arg(parser.value(port)));
    }
    result.port = *requested;
    result.action = parser.isSet(hold) ? Invocation::Action::Hold : Invocation::Action::Send;
    return result;
}

} // namespace relais
