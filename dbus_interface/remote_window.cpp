#include "remote_window.h"

#include "bus_names.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace relais {

RemoteResult setRelaysInRunningWindow(quint16 mask, QString& error) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(bus::kService).value()) {
        return RemoteResult::NoWindow;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(bus::kService, bus::kPath, bus::kInterface,
                                                       QStringLiteral("SetRelays"));
    call << uint(mask);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        error = reply.errorMessage();
        return RemoteResult::Failed;
    }
    return RemoteResult::Done;
}

} // namespace relais
