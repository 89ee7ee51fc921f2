#include "port_resolver.h"

#include <QSerialPortInfo>

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

std::optional<QString> SystemPortResolver::devicePath(int portNumber) const {
    if (portNumber < 1) {
        return std::nullopt;
    }
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(portNumber);
#else
    QStringList devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        devices << info.systemLocation();
    }
    devices = orderSerialPorts(devices);
    if (portNumber > devices.size()) {
        return std::nullopt;
    }
    return devices[portNumber - 1];
#endif
}

std::optional<QString> FixedPortResolver::devicePath(int portNumber) const {
    const auto it = table_.constFind(portNumber);
    if (it == table_.constEnd()) {
        return std::nullopt;
    }
    return *it;
}

} // namespace relais
