#include "command_line.h"

#include "mqtt_topics.h"

#include "relay_panel.h"
#include "serial_control.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

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
    "  relaiskarte --port \"COM 1\" --hold --mqtt mqtt://localhost\n"
    "                                               schaltet die Relais über einen MQTT-Broker\n"
    "  relaiskarte --set-web-password               setzt das Passwort des Web-Panels\n"
    "  relaiskarte --web 8443                       das Fenster mit Web-Panel (HTTPS)\n"
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
    const QCommandLineOption mqtt(
        QStringLiteral("mqtt"),
        QStringLiteral("Verbindet mit einem MQTT-Broker: mqtt://host[:port] oder "
                       "mqtts://host[:port] (im Fenster oder mit --hold)."),
        QStringLiteral("URL"));
    const QCommandLineOption mqttName(
        QStringLiteral("mqtt-name"),
        QStringLiteral("Name des Geräts in den Themen (relaiskarte/NAME/…); sonst Rechner und "
                       "Schnittstelle."),
        QStringLiteral("NAME"));
    const QCommandLineOption mqttCredentials(
        QStringLiteral("mqtt-credentials"),
        QStringLiteral("Datei mit Benutzer und Passwort (zwei Zeilen, nur für den Eigentümer "
                       "lesbar)."),
        QStringLiteral("DATEI"));
    const QCommandLineOption mqttCaFile(
        QStringLiteral("mqtt-cafile"),
        QStringLiteral("Zertifizierungsstelle für mqtts:// statt der des Systems."),
        QStringLiteral("DATEI"));
    const QCommandLineOption discoveryPrefix(
        QStringLiteral("mqtt-discovery-prefix"),
        QStringLiteral("Präfix der Home-Assistant-Erkennung (Vorgabe: homeassistant)."),
        QStringLiteral("PRÄFIX"));
    const QCommandLineOption noDiscovery(
        QStringLiteral("no-mqtt-discovery"),
        QStringLiteral("Meldet das Gerät nicht bei Home Assistant an."));
    const QCommandLineOption forget(
        QStringLiteral("mqtt-forget"),
        QStringLiteral("Löscht alles, was das Gerät auf dem Broker hinterlassen hat (Zustände, "
                       "Home-Assistant-Erkennung), und endet."));
    const QCommandLineOption web(
        QStringLiteral("web"),
        QStringLiteral("Web-Panel und HTTP-API auf [ADRESSE:]PORT (im Fenster oder mit --hold); "
                       "ohne Passwort nur auf 127.0.0.1 oder ::1."),
        QStringLiteral("ADRESSE"));
    const QCommandLineOption webPasswordFile(
        QStringLiteral("web-password-file"),
        QStringLiteral("Datei mit dem Passwort des Web-Panels; Sitzungen, Tokens und "
                       "Zertifikat liegen daneben."),
        QStringLiteral("DATEI"));
    const QCommandLineOption webCert(QStringLiteral("web-cert"),
                                     QStringLiteral("Zertifikat (PEM) für HTTPS statt des "
                                                    "selbst erzeugten."),
                                     QStringLiteral("DATEI"));
    const QCommandLineOption webKey(QStringLiteral("web-key"),
                                    QStringLiteral("Schlüssel (PEM) zu --web-cert."),
                                    QStringLiteral("DATEI"));
    const QCommandLineOption webPlainHttp(
        QStringLiteral("web-plain-http"),
        QStringLiteral("Web-Panel ohne TLS, auch im Netz (das Passwort geht dann im Klartext)."));
    const QCommandLineOption setWebPassword(
        QStringLiteral("set-web-password"),
        QStringLiteral("Setzt das Passwort des Web-Panels (zweimal vom Terminal oder einmal von "
                       "der Standardeingabe), in die angegebene DATEI oder die übliche."));
    const QCommandLineOption newWebToken(
        QStringLiteral("new-web-token"),
        QStringLiteral("Erzeugt ein Token für Skripte (Authorization: Bearer) und zeigt es "
                       "einmal."),
        QStringLiteral("NAME"));
    const QCommandLineOption listWebTokens(QStringLiteral("list-web-tokens"),
                                           QStringLiteral("Zeigt die Namen der Tokens."));
    const QCommandLineOption revokeWebToken(QStringLiteral("revoke-web-token"),
                                            QStringLiteral("Widerruft ein Token."),
                                            QStringLiteral("NAME"));
    const QCommandLineOption webFingerprint(
        QStringLiteral("web-fingerprint"),
        QStringLiteral("Zeigt den SHA-256-Fingerabdruck des Zertifikats des Web-Panels."));
    const QCommandLineOption config(
        QStringLiteral("config"),
        QStringLiteral("Einstellungsdatei (sonst liest das Fenster die des Benutzers)."),
        QStringLiteral("DATEI"));
    parser.addOptions({ports,
                       port,
                       relays,
                       mask,
                       hold,
                       mqtt,
                       mqttName,
                       mqttCredentials,
                       mqttCaFile,
                       discoveryPrefix,
                       noDiscovery,
                       forget,
                       web,
                       webPasswordFile,
                       webCert,
                       webKey,
                       webPlainHttp,
                       setWebPassword,
                       newWebToken,
                       listWebTokens,
                       revokeWebToken,
                       webFingerprint,
                       config});
    parser.addPositionalArgument(QStringLiteral("DATEI"),
                                 QStringLiteral("Nur mit --set-web-password: wohin das Passwort "
                                                "kommt."),
                                 QStringLiteral("[DATEI]"));

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
    const QStringList positional = parser.positionalArguments();
    if (!positional.isEmpty() && !(parser.isSet(setWebPassword) && positional.size() == 1)) {
        return failure(QStringLiteral("Unerwartetes Argument »%1«.")
                           .arg(parser.positionalArguments().first()));
    }
    for (const QCommandLineOption* single :
         {&port, &relays, &mask, &mqtt, &mqttName, &mqttCredentials, &mqttCaFile, &config, &web,
          &webPasswordFile, &webCert, &webKey, &newWebToken, &revokeWebToken}) {
        if (parser.values(*single).size() > 1) {
            return failure(
                QStringLiteral("--%1 darf nur einmal stehen.").arg(single->names().first()));
        }
    }
    if (parser.isSet(ports)) {
        if (parser.optionNames().size() > 1) {
            return failure(QStringLiteral("--ports steht allein."));
        }
        result.action = Invocation::Action::ListPorts;
        return result;
    }

    // The settings file fills in what the command line leaves out: the one
    // named, or the user's for the window.
    const bool forWindow =
        !parser.isSet(port) && !parser.isSet(hold) && !parser.isSet(relays) && !parser.isSet(mask);
    StoredSettings stored;
    if (parser.isSet(config)) {
        const auto read = readSettings(parser.value(config));
        if (!read) {
            return failure(
                QStringLiteral("Einstellungsdatei »%1« nicht lesbar.").arg(parser.value(config)));
        }
        stored = *read;
    } else if (forWindow && QFileInfo::exists(userSettingsPath())) {
        stored = readSettings(userSettingsPath()).value_or(StoredSettings{});
    }
    const auto pick = [&](const QCommandLineOption& option, const QString& fallback) {
        return parser.isSet(option) ? parser.value(option) : fallback;
    };
    // The login store: one command alone, with where the store is.
    const std::vector<std::pair<const QCommandLineOption*, web::StoreCommand::Kind>> storeCommands =
        {
            {&setWebPassword, web::StoreCommand::Kind::SetPassword},
            {&newWebToken, web::StoreCommand::Kind::NewToken},
            {&listWebTokens, web::StoreCommand::Kind::ListTokens},
            {&revokeWebToken, web::StoreCommand::Kind::RevokeToken},
            {&webFingerprint, web::StoreCommand::Kind::Fingerprint},
        };
    result.webOptions.passwordFile = positional.value(
        0, pick(webPasswordFile, stored.webPasswordFile.isEmpty() ? web::defaultPasswordFile()
                                                                  : stored.webPasswordFile));
    result.webOptions.certFile = pick(webCert, stored.webCert);
    result.webOptions.keyFile = pick(webKey, stored.webKey);
    if (result.webOptions.certFile.isEmpty() != result.webOptions.keyFile.isEmpty()) {
        return failure(QStringLiteral("--web-cert und --web-key gehören zusammen."));
    }
    for (const auto& [option, kind] : storeCommands) {
        if (!parser.isSet(*option)) {
            continue;
        }
        const QStringList allowed = {option->names().first(), QStringLiteral("web-password-file"),
                                     QStringLiteral("config"), QStringLiteral("web-cert"),
                                     QStringLiteral("web-key")};
        for (const QString& name : parser.optionNames()) {
            if (!allowed.contains(name)) {
                return failure(QStringLiteral("--%1 steht allein, nur mit --web-password-file "
                                              "oder --config.")
                                   .arg(option->names().first()));
            }
        }
        result.action = Invocation::Action::WebStore;
        result.webCommand.kind = kind;
        result.webCommand.options = result.webOptions;
        result.webCommand.tokenName = parser.value(*option);
        return result;
    }
    const QString listen = pick(web, stored.webListen);
    if (!listen.isEmpty()) {
        if (!forWindow && !parser.isSet(hold)) {
            return failure(QStringLiteral("--web gilt im Fenster oder mit --hold."));
        }
        if (const auto error = web::parseListenAddress(listen, result.webOptions)) {
            return failure(*error);
        }
        result.web = true;
        result.webOptions.plainHttp = parser.isSet(webPlainHttp) || stored.webPlainHttp;
        if (!web::isLoopback(result.webOptions.address) &&
            !QFileInfo::exists(result.webOptions.passwordFile)) {
            return failure(
                QStringLiteral("Ohne Passwort lauscht das Web-Panel nur auf 127.0.0.1 oder ::1: "
                               "erst relaiskarte --set-web-password, oder --web 127.0.0.1:%1.")
                    .arg(result.webOptions.port));
        }
    } else if (parser.isSet(webCert) || parser.isSet(webKey) || parser.isSet(webPlainHttp) ||
               parser.isSet(webPasswordFile)) {
        return failure(QStringLiteral("Die Web-Optionen brauchen --web."));
    }
    const QString portText = pick(port, parser.isSet(hold) ? stored.port : QString());
    const QString url = pick(mqtt, stored.mqttUrl);
    if (parser.isSet(forget) &&
        (url.isEmpty() || parser.isSet(hold) || parser.isSet(relays) || parser.isSet(mask))) {
        return failure(QStringLiteral("--mqtt-forget braucht --mqtt und steht ohne --hold, "
                                      "--relays und --mask."));
    }
    if (!url.isEmpty()) {
        if (!forWindow && !parser.isSet(hold) && !parser.isSet(forget)) {
            return failure(QStringLiteral("--mqtt gilt im Fenster oder mit --hold."));
        }
        result.mqtt = true;
        if (const auto error = mqtt::parseBrokerUrl(url, result.mqttOptions)) {
            return failure(*error);
        }
        result.mqttOptions.name = mqtt::topicSafe(
            pick(mqttName,
                 stored.mqttName.isEmpty() ? mqtt::defaultDeviceName(portText) : stored.mqttName));
        result.mqttOptions.caFile = pick(mqttCaFile, stored.mqttCaFile);
        result.mqttCredentialsFile = pick(mqttCredentials, stored.mqttCredentials);
        // Forgetting clears discovery under the prefix even where it is off now.
        const bool discovery =
            parser.isSet(forget) || (!parser.isSet(noDiscovery) && stored.discovery);
        const QString prefix = pick(discoveryPrefix, stored.discoveryPrefix);
        if (const auto error = mqtt::checkDiscoveryPrefix(prefix); error && discovery) {
            return failure(*error);
        }
        result.mqttOptions.discoveryPrefix = discovery ? prefix : QString();
        if (parser.isSet(forget)) {
            result.action = Invocation::Action::ForgetMqtt;
            return result;
        }
    } else if (parser.isSet(mqttName) || parser.isSet(mqttCredentials) ||
               parser.isSet(mqttCaFile) || parser.isSet(discoveryPrefix) ||
               parser.isSet(noDiscovery)) {
        return failure(QStringLiteral("Die MQTT-Optionen brauchen --mqtt."));
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
    } else if ((parser.isSet(port) || parser.isSet(hold)) &&
               !(parser.isSet(hold) && (result.mqtt || result.web))) {
        // (With a broker or the panel, --hold may start with all relays off.)
        return failure(QStringLiteral("Es fehlt --relays oder --mask."));
    }
    if (portText.isEmpty()) {
        if (parser.isSet(hold)) {
            return failure(QStringLiteral("--hold braucht --port."));
        }
        result.action = parser.isSet(relays) || parser.isSet(mask)
                            ? Invocation::Action::SendToWindow
                            : Invocation::Action::Window;
        return result;
    }
    const auto requested = parsePortSpec(portText);
    if (!requested) {
        return failure(QStringLiteral("Ungültige Schnittstelle »%1«: erlaubt sind COM 1 bis COM 8 "
                                      "oder ein Gerätepfad.")
                           .arg(portText));
    }
    result.port = *requested;
    result.action = parser.isSet(hold) ? Invocation::Action::Hold : Invocation::Action::Send;
    return result;
}

std::optional<StoredSettings> readSettings(const QString& path) {
    if (!QFileInfo(path).isReadable()) {
        return std::nullopt;
    }
    QSettings file(path, QSettings::IniFormat);
    StoredSettings s;
    s.port = file.value(QStringLiteral("link/port")).toString();
    s.mqttUrl = file.value(QStringLiteral("mqtt/url")).toString();
    s.mqttName = file.value(QStringLiteral("mqtt/name")).toString();
    s.mqttCredentials = file.value(QStringLiteral("mqtt/credentials")).toString();
    s.mqttCaFile = file.value(QStringLiteral("mqtt/cafile")).toString();
    s.discoveryPrefix =
        file.value(QStringLiteral("mqtt/discovery_prefix"), s.discoveryPrefix).toString();
    s.discovery = file.value(QStringLiteral("mqtt/discovery"), true).toBool();
    s.webListen = file.value(QStringLiteral("web/listen")).toString();
    s.webPasswordFile = file.value(QStringLiteral("web/password_file")).toString();
    s.webCert = file.value(QStringLiteral("web/cert")).toString();
    s.webKey = file.value(QStringLiteral("web/key")).toString();
    s.webPlainHttp = file.value(QStringLiteral("web/plain_http"), false).toBool();
    return s;
}

QString userSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/relaiskarte.conf");
}

} // namespace relais
