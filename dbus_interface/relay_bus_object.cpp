#include "relay_bus_object.h"

#include "bus_names.h"
#include "link_control.h"

#include <QDBusError>
#include <QDBusMessage>

namespace relais {

QString bus::errorName(int number) {
    const QString prefix = kInterface + QStringLiteral(".Error.");
    switch (number) {
    case kErrPortNotFound:
        return prefix + QStringLiteral("PortNotFound");
    case kErrPortInUse:
        return prefix + QStringLiteral("PortInUse");
    case kErrPermissionDenied:
        return prefix + QStringLiteral("PermissionDenied");
    default:
        return prefix + QStringLiteral("OpenFailed");
    }
}

RelayBusObject::RelayBusObject(RelayWindow& window)
    : QObject(&window), window_(window), lastRelays_(relays()), lastRunning_(running()),
      lastPort_(port()) {
    connect(&window_, &RelayWindow::stateChanged, this, &RelayBusObject::announceChanges);
}

bool RelayBusObject::publish(QDBusConnection bus) {
    bus_ = bus;
    if (!bus_.isConnected() || !bus_.registerObject(bus::kPath, this,
                                                    QDBusConnection::ExportAllSlots |
                                                        QDBusConnection::ExportAllProperties)) {
        return false;
    }
    ownsName_ = bus_.registerService(bus::kService);
    return ownsName_;
}

RelayBusObject::~RelayBusObject() {
    if (ownsName_) {
        bus_.unregisterService(bus::kService); // for a window that may come after
    }
}

void RelayBusObject::refuse(const QString& message) {
    if (calledFromDBus()) {
        sendErrorReply(QDBusError::InvalidArgs, message);
    }
}

void RelayBusObject::SetRelay(uint relay, bool on) {
    if (relay < 1 || relay > uint(kRelayCount)) {
        refuse(QStringLiteral("Relais %1 gibt es nicht (1 bis 16)").arg(relay));
        return;
    }
    window_.setRelay(int(relay), on);
}

void RelayBusObject::SetRelays(uint mask) {
    if (mask > 0xFFFFu) {
        refuse(QStringLiteral("Maske %1 außerhalb von 0 bis 65535").arg(mask));
        return;
    }
    window_.setRelays(quint16(mask));
}

void RelayBusObject::Start(const QString& port) {
    const auto requested = parsePortSpec(port);
    if (!requested) {
        refuse(QStringLiteral("Ungültige Schnittstelle \"%1\"").arg(port));
        return;
    }
    try {
        window_.startOn(*requested);
    } catch (const CommError& error) {
        if (calledFromDBus()) {
            sendErrorReply(bus::errorName(error.number()), messageFor(error));
        }
    }
}

void RelayBusObject::Stop() {
    window_.stop();
}

void RelayBusObject::announceChanges() {
    QVariantMap changed;
    if (relays() != lastRelays_) {
        changed.insert(QStringLiteral("Relays"), lastRelays_ = relays());
    }
    if (running() != lastRunning_) {
        changed.insert(QStringLiteral("Running"), lastRunning_ = running());
    }
    if (port() != lastPort_) {
        changed.insert(QStringLiteral("Port"), lastPort_ = port());
    }
    if (changed.isEmpty() || !bus_.isConnected()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(bus::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << bus::kInterface << changed << QStringList();
    bus_.send(signal);
}

} // namespace relais
