#include "remote_window.h"

#include "bus_names.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace relais {

RemoteResult askRunningWindow(const WindowRequest& request, QString& error) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(bus::kService).value()) {
        return RemoteResult::NoWindow;
    }
    using Kind = WindowRequest::Kind;
    const QString method = request.kind == Kind::Pulse            ? QStringLiteral("Pulse")
                           : request.kind == Kind::PauseSchedules ? QStringLiteral("PauseSchedules")
                                                                  : QStringLiteral("SetRelays");
    QDBusMessage call =
        QDBusMessage::createMethodCall(bus::kService, bus::kPath, bus::kInterface, method);
    if (request.kind == Kind::Pulse) {
        call << uint(request.relay) << uint(request.ms);
    } else if (request.kind == Kind::PauseSchedules) {
        call << (request.mask != 0);
    } else {
        call << uint(request.mask);
    }
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ErrorMessage) {
        error = reply.errorMessage();
        return RemoteResult::Failed;
    }
    return RemoteResult::Done;
}

} // namespace relais
