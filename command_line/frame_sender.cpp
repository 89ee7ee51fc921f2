#include "frame_sender.h"

#include "feature_modules.h"
#include "headless_relays.h"

#include "link_control.h"
#include "qt_serial_control.h"
#include "relay_panel.h"
#include "shutdown_watcher.h"

#include <QCoreApplication>

namespace relais {

int sendFrames(const PortSpec& port, quint16 mask, QTextStream& err) {
    SystemPortResolver resolver;
    QtSerialControl serial(resolver);
    const QByteArray frame = commandFrame(QString::number(mask));
    try {
        if (port.number > 0) {
            serial.setPortNumber(port.number);
        } else {
            serial.setDevice(port.device);
        }
        serial.setSettings(kLineSettings);
        serial.open();
        serial.write(frame);
        serial.discardPending();
        if (!serial.drain(5000)) {
            throw CommError(kErrLineLost, serial.device(),
                            QStringLiteral("Das Telegramm hat die Schnittstelle nicht verlassen"));
        }
        serial.close();
        return kExitOk;
    } catch (const CommError& error) {
        err << messageFor(error) << Qt::endl;
        return exitCodeFor(error.number());
    }
}

std::optional<QString> loadCredentials(Invocation& invocation) {
    if (!invocation.mqttCredentialsFile.isEmpty()) {
        return mqtt::readCredentials(invocation.mqttCredentialsFile, invocation.mqttOptions);
    }
    invocation.mqttOptions.user = qEnvironmentVariable("RELAISKARTE_MQTT_USER");
    invocation.mqttOptions.password = qEnvironmentVariable("RELAISKARTE_MQTT_PASSWORD");
    return std::nullopt;
}

int forgetOnBroker(const Invocation& invocation, QTextStream& err) {
    return forgetCard(invocation.mqttOptions, err) ? kExitOk : kExitUsage;
}

std::optional<std::vector<std::unique_ptr<RemoteAccess>>>
openRemoteAccess(RelayOperations& relays, const Invocation& invocation, QTextStream& log) {
    std::vector<std::unique_ptr<RemoteAccess>> ways;
    if (invocation.mqtt) {
        auto bridge = joinBroker(relays, invocation.mqttOptions, log);
        if (!bridge) {
            return std::nullopt;
        }
        ways.push_back(std::move(bridge));
    }
    if (invocation.web) {
        auto panel = openWebPanel(relays, invocation.webOptions, log);
        if (!panel) {
            return std::nullopt;
        }
        ways.push_back(std::move(panel));
    }
    return ways;
}

int holdRelays(const Invocation& invocation, QTextStream& err) {
    SystemPortResolver resolver;
    HeadlessRelays relays(resolver);
    std::optional<CommError> failure;
    relays.asOneChange(
        [&] {
            relays.setRelays(invocation.mask);
            try {
                relays.startOn(invocation.port);
            } catch (const CommError& error) {
                failure = error;
            }
        },
        {ChangeSource::Kind::CommandLine, {}});
    if (failure) {
        err << messageFor(*failure) << Qt::endl;
        return exitCodeFor(failure->number());
    }
    relays.tick(); // the first frame at once, then every 100 ms

    // A broker that can never work, or a panel that cannot listen: the
    // line has said why; the service ends rather than run half-deaf.
    std::vector<std::unique_ptr<RemoteAccess>> ways;
    if (auto opened = openRemoteAccess(relays, invocation, err); opened) {
        ways = std::move(*opened);
    } else {
        relays.closePort();
        return kExitUsage;
    }
    // Asked to end (Ctrl+C, a signal, the session ending): the port is
    // closed at once, so nothing is sent after, even if the process is
    // ended right after this.
    ShutdownWatcher watcher;
    QObject::connect(&watcher, &ShutdownWatcher::requested, [&relays] {
        relays.closePort();
        QCoreApplication::quit();
    });
    int code = kExitOk;
    QObject::connect(&relays, &HeadlessRelays::lineLost, [&](const QString& message) {
        err << message << Qt::endl;
        code = kExitLineLost;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    relays.closePort(); // nothing is sent on the way out
    for (auto& way : ways) {
        way->leave(2000); // "stopped" and "offline" reach the broker before we end
    }
    return code;
}

} // namespace relais
