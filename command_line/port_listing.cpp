#include "port_listing.h"

#include "messages.h"
#include "port_resolver.h"

#include <QMap>
#include <QSerialPortInfo>

namespace relais {

QString portListing() {
    QMap<QString, QString> descriptions;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        QString text = info.description();
        if (text.isEmpty()) {
            text = info.manufacturer();
        }
        descriptions.insert(info.systemLocation(), text);
        descriptions.insert(info.portName(), text);
    }
    const QStringList devices = SystemPortResolver::devicesInComOrder();
    QString out;
    for (int n = 1; n <= kPortCount; ++n) {
        const QString com = comName(n);
        if (n > devices.size() || devices[n - 1].isEmpty()) {
            out += QStringLiteral("%1  %2\n").arg(com, messages::kNoDevice);
            continue;
        }
        const QString device = devices[n - 1];
        out += QStringLiteral("%1  %2  %3")
                   .arg(com, device.leftJustified(14), descriptions.value(device))
                   .trimmed() +
               QLatin1Char('\n');
    }
    return out;
}

} // namespace relais
