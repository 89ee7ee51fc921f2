#include "web_options.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>
#include <QUrl>

namespace relais::web {

namespace {

// A dotted IPv4 address of four numbers 0-255, written plainly.
bool isIPv4(const QString& host) {
    const QStringList parts = host.split(QLatin1Char('.'));
    if (parts.size() != 4) {
        return false;
    }
    for (const QString& part : parts) {
        bool ok = false;
        if (part.isEmpty() || part.size() > 3 || part.toUInt(&ok) > 255 || !ok) {
            return false;
        }
    }
    return true;
}

// An IPv6 address as QUrl writes it, or nothing.
QString normalIPv6(const QString& host) {
    const QUrl url(QStringLiteral("http://[%1]/").arg(host), QUrl::StrictMode);
    return url.isValid() ? url.host() : QString();
}

} // namespace

std::optional<QString> parseListenAddress(const QString& text, PanelOptions& options) {
    const QString invalid =
        QStringLiteral("Ungültige Adresse »%1« für --web: erwartet wird [ADRESSE:]PORT, "
                       "z. B. 8443 oder 127.0.0.1:8443.")
            .arg(text);
    QString host;
    QString portText = text.trimmed();
    const qsizetype colon = portText.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = portText.left(colon);
        portText = portText.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
            host = host.mid(1, host.size() - 2);
        } else if (host.contains(QLatin1Char(':'))) {
            return invalid; // a bare IPv6 address needs its brackets
        }
        if (host.isEmpty()) {
            return invalid;
        }
        if (host != QLatin1String("localhost") && !isIPv4(host) && normalIPv6(host).isEmpty()) {
            return invalid;
        }
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port == 0 || port > 65535 || portText.startsWith(QLatin1Char('+'))) {
        return invalid;
    }
    options.address = host;
    options.port = quint16(port);
    return std::nullopt;
}

bool isLoopback(const QString& address) {
    if (address == QLatin1String("localhost")) {
        return true;
    }
    if (isIPv4(address)) {
        return address.section(QLatin1Char('.'), 0, 0).toUInt() == 127;
    }
    return !address.isEmpty() && normalIPv6(address) == QLatin1String("::1");
}

bool usesTls(const PanelOptions& options) {
    if (options.plainHttp) {
        return false;
    }
    return !isLoopback(options.address) || !options.certFile.isEmpty();
}

QString defaultPasswordFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/relaiskarte/web-password");
}

QString sessionsFile(const PanelOptions& options) {
    return options.passwordFile + QStringLiteral(".sessions");
}

QString tokensFile(const PanelOptions& options) {
    return options.passwordFile + QStringLiteral(".tokens");
}

QString selfSignedCertFile(const PanelOptions& options) {
    return QFileInfo(options.passwordFile).dir().filePath(QStringLiteral("web-cert.pem"));
}

QString selfSignedKeyFile(const PanelOptions& options) {
    return QFileInfo(options.passwordFile).dir().filePath(QStringLiteral("web-key.pem"));
}

} // namespace relais::web
