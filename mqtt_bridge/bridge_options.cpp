#include "bridge_options.h"

#include "mqtt_topics.h"
#include "private_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUrl>

namespace relais::mqtt {

std::optional<QString> parseBrokerUrl(const QString& text, BridgeOptions& options) {
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery()) {
        return QStringLiteral("Ungültige Broker-Adresse »%1«: erwartet mqtt://host[:port] oder "
                              "mqtts://host[:port].")
            .arg(text);
    }
    options.tls = scheme == QLatin1String("mqtts");
    options.host = url.host();
    options.port = url.port(options.tls ? 8883 : 1883);
    return std::nullopt;
}

std::optional<QString> readCredentials(const QString& path, BridgeOptions& options) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("Zugangsdaten »%1« nicht lesbar: %2").arg(path, file.errorString());
    }
    if (othersMayRead(path)) {
        return QStringLiteral("Zugangsdaten »%1« sind für andere lesbar; nur der Eigentümer darf "
                              "sie lesen (chmod 600).")
            .arg(path);
    }
    const QList<QByteArray> lines = file.read(4096).split('\n');
    if (lines.size() < 2 || lines[0].trimmed().isEmpty()) {
        return QStringLiteral("Zugangsdaten »%1«: erwartet zwei Zeilen, Benutzer und Passwort.")
            .arg(path);
    }
    options.user = QString::fromUtf8(lines[0].trimmed());
    options.password = QString::fromUtf8(lines[1]).remove(QLatin1Char('\r'));
    return std::nullopt;
}

QString defaultDeviceName(const QString& portText) {
    const QString host = topicSafe(QSysInfo::machineHostName());
    return portText.isEmpty() ? host : host + QLatin1Char('-') + topicSafe(portText);
}

} // namespace relais::mqtt
