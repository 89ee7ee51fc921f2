#include "pulse_once.h"

#include "headless_relays.h"
#include "relay_command.h"

#include <QCoreApplication>

namespace relais {

int pulseOnce(const Invocation& invocation, QTextStream& err) {
    SystemPortResolver resolver;
    HeadlessRelays relays(resolver);
    relays.setRules(invocation.rules);
    const ChangeSource commandLine{ChangeSource::Kind::CommandLine, {}};
    std::optional<CommError> failure;
    relays.asOneChange(
        [&] {
            try {
                relays.startOn(invocation.port);
            } catch (const CommError& error) {
                failure = error;
            }
        },
        commandLine);
    if (failure) {
        err << messageFor(*failure) << Qt::endl;
        return exitCodeFor(failure->number());
    }
    const auto made = RelayCommand::pulse(
        invocation.pulseRelay,
        invocation.pulseMs > 0 ? std::optional<qint64>(invocation.pulseMs) : std::nullopt);
    if (const auto refusal = carryOut(
            relays, made, [] { return QStringList(); }, commandLine)) {
        err << refusal->text << Qt::endl;
        relays.closePort();
        return kExitUsage;
    }
    relays.tick(); // the "on" at once, then every 100 ms
    int code = kExitOk;
    const quint16 bit = quint16(relayWeight(invocation.pulseRelay));
    relays.watch(&relays, [&](const RelayChange& change) {
        if ((change.flipped & bit) && !(change.state.pattern & bit)) {
            // Once this event is done: the "off" (unless its tick sent it), then the end.
            QMetaObject::invokeMethod(
                &relays,
                [&] {
                    if (relays.lastFrame() & bit) {
                        relays.tick();
                    }
                    relays.serial().drain(2000);
                    QCoreApplication::quit();
                },
                Qt::QueuedConnection);
        }
    });
    QObject::connect(&relays, &HeadlessRelays::lineLost, [&](const QString& message) {
        err << message << Qt::endl;
        code = kExitLineLost;
        QCoreApplication::quit();
    });
    QCoreApplication::exec();
    relays.closePort();
    return code;
}

} // namespace relais
