#include "screen_reader_readiness.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>

namespace relais {

namespace {

constexpr char kAlwaysOn[] = "QT_LINUX_ACCESSIBILITY_ALWAYS_ON";
constexpr int kPatienceMs = 500;
const QString kProbeConnection = QStringLiteral("relaiskarte-registry-probe");

// Asks the accessibility registry for a ping, through the accessibility bus
// whose address the session's accessibility service gives, with nothing but
// asynchronous calls: true when it answered within the patience.
bool registryAnswers(QDBusConnection session) {
    const QDeadlineTimer deadline(kPatienceMs);
    QEventLoop loop;
    bool answered = false;
    QTimer::singleShot(kPatienceMs, &loop, &QEventLoop::quit);
    const auto whenDone = [&loop](const QDBusPendingCall& call, auto then) {
        auto* watcher = new QDBusPendingCallWatcher(call, &loop);
        QObject::connect(watcher, &QDBusPendingCallWatcher::finished, &loop, then);
    };
    const auto getAddress = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    whenDone(session.asyncCall(getAddress, kPatienceMs), [&](QDBusPendingCallWatcher* call) {
        const QDBusPendingReply<QString> address = *call;
        if (address.isError()) {
            loop.quit();
            return;
        }
        auto bus = QDBusConnection::connectToBus(address.value(), kProbeConnection);
        const auto ping = QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
            QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping"));
        const int left = std::max(1, int(deadline.remainingTime()));
        whenDone(bus.asyncCall(ping, left), [&](QDBusPendingCallWatcher* reply) {
            answered = !reply->isError();
            loop.quit();
        });
    });
    loop.exec();
    QDBusConnection::disconnectFromBus(kProbeConnection);
    return answered;
}

} // namespace

// Qt decides once, when the first control is made, whether the window joins
// the accessibility bus; by default only if a screen reader already runs, so
// one started later would find the window silent. Joining always fixes that,
// but Qt then waits for the registry with blocking calls (25 s each): a hung
// registry would freeze the window and its ticks. So join always only when
// the registry answers; otherwise keep Qt's default.
void prepareForScreenReaders() {
    if (qEnvironmentVariableIsSet(kAlwaysOn)) {
        return; // the user's own choice
    }
    const QDBusConnection session = QDBusConnection::sessionBus();
    if (!session.isConnected()) {
        return; // no session bus: no screen reader can reach the window
    }
    // No accessibility service yet: nothing to ask (asking would start one);
    // Qt joins it when it appears, as before.
    if (!session.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus")) ||
        registryAnswers(session)) {
        qputenv(kAlwaysOn, "1");
    }
}

} // namespace relais
