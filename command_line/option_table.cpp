#include "option_table.h"

#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace relais {

namespace {

using Group = OptionGroup;
using Value = OptionSpec::Value;

OptionSpec text(const char* name, const char* valueName, const QString& help, Group group,
                const char* settingsKey = "", const char* preset = "") {
    return {QString::fromLatin1(name),
            QString::fromUtf8(valueName),
            help,
            group,
            true,
            QString::fromLatin1(settingsKey),
            Value::Text,
            QString::fromLatin1(preset)};
}

OptionSpec flag(const char* name, const QString& help, Group group, const char* settingsKey = "",
                Value value = Value::Switch) {
    return {QString::fromLatin1(name),        {},    help, group, false,
            QString::fromLatin1(settingsKey), value, {}};
}

// (A table, not code: in the order of the help.)
const std::vector<OptionSpec> kTable{
    flag("ports", QStringLiteral("Zeigt COM 1 bis COM 8 und ihre Geräte."), Group::General),
    text("port", "PORT",
         QStringLiteral("Die Schnittstelle: COM 1 bis COM 8 (auch COM1 oder 1) oder ein "
                        "Gerät."),
         Group::Link, "link/port"),
    text("relays", "LISTE",
         QStringLiteral("Die eingeschalteten Relais, durch Kommas getrennt (1 bis 16), oder - "
                        "für alle aus."),
         Group::Link),
    text("mask", "N", QStringLiteral("Das Muster als Zahl von 0 bis 65535."), Group::Link),
    text("pulse", "RELAIS[:DAUER]",
         QStringLiteral("Ein Impuls: das Relais (Nummer oder Name) ein, nach DAUER (z. B. 500ms, "
                        "2s; sonst seine eigene Länge) wieder aus."),
         Group::Link),
    text("schedules", "pause|run",
         QStringLiteral("Pausiert die Zeitpläne des laufenden Fensters (pause) oder lässt sie "
                        "wieder laufen (run)."),
         Group::General),
    flag("hold", QStringLiteral("Sendet weiter alle 100 ms, bis SIGINT oder SIGTERM kommt."),
         Group::Link),
    text("mqtt", "URL",
         QStringLiteral("Verbindet mit einem MQTT-Broker: mqtt://host[:port] oder "
                        "mqtts://host[:port] (im Fenster oder mit --hold)."),
         Group::Mqtt, "mqtt/url"),
    text("mqtt-name", "NAME",
         QStringLiteral("Name des Geräts in den Themen (relaiskarte/NAME/…); sonst Rechner "
                        "und Schnittstelle."),
         Group::Mqtt, "mqtt/name"),
    text("mqtt-credentials", "DATEI",
         QStringLiteral("Datei mit Benutzer und Passwort (zwei Zeilen, nur für den "
                        "Eigentümer lesbar)."),
         Group::Mqtt, "mqtt/credentials"),
    text("mqtt-cafile", "DATEI",
         QStringLiteral("Zertifizierungsstelle für mqtts:// statt der des Systems."), Group::Mqtt,
         "mqtt/cafile"),
    text("mqtt-discovery-prefix", "PRÄFIX",
         QStringLiteral("Präfix der Home-Assistant-Erkennung (Vorgabe: homeassistant)."),
         Group::Mqtt, "mqtt/discovery_prefix", "homeassistant"),
    flag("no-mqtt-discovery", QStringLiteral("Meldet das Gerät nicht bei Home Assistant an."),
         Group::Mqtt, "mqtt/discovery", Value::SwitchOff),
    flag("mqtt-forget",
         QStringLiteral("Löscht alles, was das Gerät auf dem Broker hinterlassen hat "
                        "(Zustände, Home-Assistant-Erkennung), und endet."),
         Group::Mqtt),
    text("web", "ADRESSE",
         QStringLiteral("Web-Panel und HTTP-API auf [ADRESSE:]PORT (im Fenster oder mit "
                        "--hold); ohne Passwort nur auf 127.0.0.1 oder ::1."),
         Group::Web, "web/listen"),
    text("web-password-file", "DATEI",
         QStringLiteral("Datei mit dem Passwort des Web-Panels; Sitzungen, Tokens und "
                        "Zertifikat liegen daneben."),
         Group::Web, "web/password_file"),
    text("web-cert", "DATEI",
         QStringLiteral("Zertifikat (PEM) für HTTPS statt des selbst erzeugten."), Group::Web,
         "web/cert"),
    text("web-key", "DATEI", QStringLiteral("Schlüssel (PEM) zu --web-cert."), Group::Web,
         "web/key"),
    flag("web-plain-http",
         QStringLiteral("Web-Panel ohne TLS, auch im Netz (das Passwort geht dann im "
                        "Klartext)."),
         Group::Web, "web/plain_http"),
    flag("set-web-password",
         QStringLiteral("Setzt das Passwort des Web-Panels (zweimal vom Terminal oder einmal "
                        "von der Standardeingabe), in die angegebene DATEI oder die übliche."),
         Group::Store),
    text("new-web-token", "NAME",
         QStringLiteral("Erzeugt ein Token für Skripte (Authorization: Bearer) und zeigt es "
                        "einmal."),
         Group::Store),
    flag("list-web-tokens", QStringLiteral("Zeigt die Namen der Tokens."), Group::Store),
    text("revoke-web-token", "NAME", QStringLiteral("Widerruft ein Token."), Group::Store),
    flag("web-fingerprint",
         QStringLiteral("Zeigt den SHA-256-Fingerabdruck des Zertifikats des Web-Panels."),
         Group::Store),
    flag("log-changes",
         QStringLiteral("Das Fenster schreibt jede Änderung mit ihrer Quelle auf die "
                        "Standardfehlerausgabe (ohne Fenster immer)."),
         Group::General),
    flag("schedule-preview",
         QStringLiteral("Zeigt die kommenden Schaltungen der Zeitpläne mit Datum, Uhrzeit, "
                        "UTC-Abstand und Grund."),
         Group::General),
    text("from", "DATUM", QStringLiteral("Erster Tag der Vorschau (2026-03-29; sonst heute)."),
         Group::General),
    text("days", "N", QStringLiteral("Tage der Vorschau (1 bis 366; sonst 7)."), Group::General),
    text("config", "DATEI",
         QStringLiteral("Einstellungsdatei (sonst liest das Fenster die des Benutzers)."),
         Group::General),
};

} // namespace

const std::vector<OptionSpec>& optionTable() {
    return kTable;
}

QString groupSwitch(OptionGroup group) {
    switch (group) {
    case OptionGroup::Mqtt:
        return QStringLiteral("mqtt");
    case OptionGroup::Web:
        return QStringLiteral("web");
    default:
        return {};
    }
}

StoredSettings presetSettings() {
    StoredSettings settings;
    for (const OptionSpec& option : optionTable()) {
        if (option.value == Value::Text && !option.preset.isEmpty()) {
            settings.insert(option.name, option.preset);
        }
    }
    return settings;
}

std::optional<StoredSettings> readSettings(const QString& path) {
    if (!QFileInfo(path).isReadable()) {
        return std::nullopt;
    }
    QSettings file(path, QSettings::IniFormat);
    StoredSettings settings = presetSettings();
    for (const OptionSpec& option : optionTable()) {
        if (option.settingsKey.isEmpty() || !file.contains(option.settingsKey)) {
            continue;
        }
        const QVariant value = file.value(option.settingsKey);
        if (option.value == Value::Text) {
            settings.insert(option.name, value.toString());
        } else {
            const bool on = value.toBool() == (option.value == Value::Switch);
            settings.insert(option.name, on ? QStringLiteral("true") : QStringLiteral("false"));
        }
    }
    return settings;
}

QString userSettingsPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/relaiskarte.conf");
}

} // namespace relais
