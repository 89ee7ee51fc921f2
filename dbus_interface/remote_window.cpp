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
    const bool pulse = request.kind == WindowRequest::Kind::Pulse;
    QDBusMessage call = QDBusMessage::createMethodCall(bus::kService, bus::kPath, bus::kInterface,
                                                       pulse ? QStringLiteral("Pulse")
                                                             : QStringLiteral("SetRelays"));
    if (pulse) {
        call << uint(request.relay) << uint(request.ms);
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
