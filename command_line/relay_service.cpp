#include "relay_service.h"

#include "change_record.h"
#include "headless_relays.h"
#include "last_state.h"
#include "remote_ways.h"
#include "schedule_start.h"
#include "shutdown_watcher.h"

#include <QCoreApplication>

namespace relais {

namespace {

// The pattern to begin with (given, or kept with power_on = last), then the
// port opened; the exit code where it cannot be.
std::optional<int> startRelays(HeadlessRelays& relays, const Invocation& invocation,
                               QTextStream& err) {
    std::optional<CommError> failure;
    relays.asOneChange(
        [&] {
            if (invocation.rules.powerOnLast && !invocation.patternGiven) {
                QStringList said;
                relays.startFromLastState(lastStatePath(), said);
                for (const QString& line : said) {
                    err << line << Qt::endl;
                }
            } else {
                relays.setRelays(invocation.mask); // a pattern given wins over the one kept
                if (invocation.rules.powerOnLast) {
                    relays.keepLastState(lastStatePath());
                }
            }
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
    return std::nullopt;
}

} // namespace

int holdRelays(const Invocation& invocation, QTextStream& err) {
    SystemPortResolver resolver;
    HeadlessRelays relays(resolver);
    relays.setRules(invocation.rules);
    // Asked to end (Ctrl+C, a signal, the session ending), from the first
    // frame on: the port is closed at once, so nothing is sent after, even
    // if the process is ended right after this. (The end is queued: a
    // request heard before the main loop runs ends it as soon as it does.)
    ShutdownWatcher watcher;
    QObject::connect(&watcher, &ShutdownWatcher::requested, [&relays] {
        relays.closePort();
        QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    QObject::connect(&relays, &RelayCore::notice,
                     [&err](const QString& line) { err << line << Qt::endl; });
    if (const auto failed = startRelays(relays, invocation, err)) {
        return *failed;
    }
    // Who switched what from now on, to the journal.
    ChangeRecord record(
        relays.rules(), [&err](const QString& line) { err << line << Qt::endl; },
        [&relays] { return relays.clock().now(); });
    QObject listening; // gone before the record: nothing reaches it after
    relays.watch(&listening, [&record](const RelayChange& change) { record.changed(change); });
    relays.watchRefusals(&listening, [&record](const Refusal& refusal, const ChangeSource& source) {
        record.refused(refusal, source);
    });
    // The schedules, whether or not the link runs; before the ways in,
    // which then see them from the start.
    const auto schedules =
        runSchedules(relays, invocation, [&err](const QString& line) { err << line << Qt::endl; });
    // A broker that can never work, or a panel that cannot listen: the
    // line has said why; the service ends rather than run half-deaf.
    std::vector<std::unique_ptr<RemoteAccess>> ways;
    if (auto opened = openRemoteAccess(relays, invocation, err, MissingWay::EndsAll); opened) {
        ways = std::move(*opened);
    } else {
        relays.closePort();
        return kExitUsage;
    }
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
