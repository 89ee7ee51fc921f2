#include "relay_bus_object.h"

#include "bus_names.h"
#include "link_control.h"
#include "port_resolver.h"

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

RelayBusObject::RelayBusObject(RelayOperations& relays, QObject* owner)
    : QObject(owner), relays_(relays), lastRelays_(relays.relays()), lastRunning_(running()),
      lastPort_(port()) {
    relays_.watch(this, [this] { announceChanges(); });
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

void RelayBusObject::run(const RelayCommand::Made& made) {
    const auto refusal =
        carryOut(relays_, made, [] { return SystemPortResolver::devicesInComOrder(); });
    if (!refusal || !calledFromDBus()) {
        return;
    }
    switch (refusal->kind) {
    case Refusal::Kind::BadArgument:
        return sendErrorReply(QDBusError::InvalidArgs, refusal->text);
    case Refusal::Kind::Conflict:
        return sendErrorReply(bus::kInterface + QStringLiteral(".Error.Busy"), refusal->text);
    case Refusal::Kind::PortError:
        return sendErrorReply(bus::errorName(refusal->portError), refusal->message);
    }
}

void RelayBusObject::SetRelay(uint relay, bool on) {
    run(RelayCommand::setRelay(relay, on));
}

void RelayBusObject::SetRelays(uint mask) {
    run(RelayCommand::setAll(mask));
}

void RelayBusObject::Start(const QString& port) {
    run(RelayCommand::start(port, false));
}

void RelayBusObject::Stop() {
    run(RelayCommand::stop());
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
