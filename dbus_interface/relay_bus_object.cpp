#include "relay_bus_object.h"

#include "bus_names.h"
#include "link_control.h"
#include "port_resolver.h"

#include <QDBusError>
#include <QDBusMessage>
#include <QJsonDocument>

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
    : QObject(owner), relays_(relays) {
    relays_.watch(this, [this](const RelayChange& change) { announceChange(change); });
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

bool RelayBusObject::run(const RelayCommand::Made& made) {
    const auto refusal =
        carryOut(relays_, made, [] { return SystemPortResolver::devicesInComOrder(); },
                 {ChangeSource::Kind::DBus, {}});
    if (!refusal || !calledFromDBus()) {
        return !refusal;
    }
    switch (refusal->kind) {
    case Refusal::Kind::BadArgument:
        sendErrorReply(QDBusError::InvalidArgs, refusal->text);
        break;
    case Refusal::Kind::Conflict:
        sendErrorReply(bus::kInterface + QStringLiteral(".Error.Busy"), refusal->text);
        break;
    case Refusal::Kind::PortError:
        sendErrorReply(bus::errorName(refusal->portError), refusal->message);
        break;
    }
    return false;
}

uint RelayBusObject::Pulse(uint relay, uint ms) {
    const RelayCommand::Made made =
        RelayCommand::pulse(relay, ms > 0 ? std::optional<qint64>(ms) : std::nullopt);
    if (!run(made)) {
        return 0;
    }
    return uint(std::get<RelayCommand>(made).pulseMs(relays_.rules()));
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

void RelayBusObject::PauseSchedules(bool paused) {
    run(RelayCommand::pauseSchedules(paused));
}

QString RelayBusObject::Schedule() {
    const ScheduleControl* schedules = relays_.schedules();
    return QString::fromUtf8(QJsonDocument(schedules ? schedules->coming(7) : QJsonArray())
                                 .toJson(QJsonDocument::Compact));
}

void RelayBusObject::announceChange(const RelayChange& change) {
    QVariantMap changed;
    if (change.pausedChanged) {
        changed.insert(QStringLiteral("SchedulesPaused"), change.state.schedulesPaused);
    }
    if (change.flipped != 0) {
        changed.insert(QStringLiteral("Relays"), uint(change.state.pattern));
    }
    if (change.linkChanged) {
        changed.insert(QStringLiteral("Running"), change.state.running);
    }
    if (change.portChanged) {
        changed.insert(QStringLiteral("Port"), change.state.port);
    }
    if (!bus_.isConnected() || changed.isEmpty()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(bus::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << bus::kInterface << changed << QStringList();
    bus_.send(signal);
}

} // namespace relais
