#include "port_resolver.h"

#include "port_platform.h"

#include <QRegularExpression>

#include <algorithm>
#include <tuple>

namespace relais {

namespace {

struct PortKey {
    int group;
    QString prefix;
    qint64 number; // -1 when the name ends in no digits
    QString name;

    auto tie() const { return std::tie(group, prefix, number, name); }
};

PortKey keyOf(const QString& device) {
    const QString name = device.section(QLatin1Char('/'), -1);
    qsizetype digits = name.size();
    while (digits > 0 && name[digits - 1].isDigit()) {
        --digits;
    }
    PortKey key;
    key.prefix = name.left(digits);
    const QString tail = name.mid(digits);
    bool ok = false;
    key.number = tail.isEmpty() ? -1 : tail.toLongLong(&ok);
    if (!ok) {
        key.number = -1;
    }
    key.name = name;
    if (key.prefix == QLatin1String("ttyS")) {
        key.group = 0;
    } else if (key.prefix == QLatin1String("ttyUSB")) {
        key.group = 1;
    } else if (key.prefix == QLatin1String("ttyACM")) {
        key.group = 2;
    } else {
        key.group = 3;
    }
    return key;
}

} // namespace

QStringList orderSerialPorts(QStringList devices) {
    std::stable_sort(devices.begin(), devices.end(), [](const QString& a, const QString& b) {
        return keyOf(a).tie() < keyOf(b).tie();
    });
    return devices;
}

QStringList SystemPortResolver::devicesInComOrder() {
    return port_platform::devicesInComOrder();
}

std::optional<QString> SystemPortResolver::devicePath(int portNumber) const {
    const QStringList devices = devicesInComOrder();
    if (portNumber >= 1 && portNumber <= devices.size() && !devices[portNumber - 1].isEmpty()) {
        return devices[portNumber - 1];
    }
    return std::nullopt;
}

QString comName(int number) {
    return QStringLiteral("COM %1").arg(number);
}

std::optional<PortSpec> parsePortSpec(const QString& text) {
    static const QRegularExpression comPort(QStringLiteral("^(?:COM ?)?([1-9][0-9]*)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = comPort.match(text);
    if (m.hasMatch()) {
        const int number = m.captured(1).toInt();
        if (number < 1 || number > kPortCount) {
            return std::nullopt;
        }
        return PortSpec{number, {}};
    }
    const bool path =
        text.startsWith(QLatin1Char('/')) || text.startsWith(QLatin1String("\\\\.\\"));
    if (!path || text.size() < 2 || text.contains(QChar(0))) {
        return std::nullopt;
    }
    return PortSpec{0, text};
}

std::optional<QString> FixedPortResolver::devicePath(int portNumber) const {
    const auto it = table_.constFind(portNumber);
    if (it == table_.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

} // namespace relais
