// Scripts driving the relays: the program's command line against
// pseudo-terminals, and the window's D-Bus interface on a private session
// bus (run under dbus-run-session). The real program on the bus is tried
// under Xvfb, in the real-window test.

#include "bus_names.h"
#include "exit_codes.h"
#include "fakes.h"
#include "far_end_pty.h"
#include "messages.h"
#include "relay_bus_object.h"
#include "relay_contract.h"
#include "relay_window.h"
#include "settings_file.h"

#include <QComboBox>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace relais;

namespace {

// The rows a way in has commands for.
void contractRowNumbers(const std::function<bool(const ContractRow&)>& itsOwn) {
    QTest::addColumn<int>("index");
    const QList<ContractRow> rows = contractRows();
    for (int i = 0; i < rows.size(); ++i) {
        if (itsOwn(rows[i])) {
            QTest::addRow("%s", qPrintable(rows[i].name)) << i;
        }
    }
}

struct Run {
    int exitCode = -1;
    QString err;
};

// Runs the program to its end, as root or as the user "nobody"; sets `skip`
// when dropping to nobody cannot be done here.
Run runProgram(const QStringList& args, bool asNobody = false, QString* skip = nullptr) {
    QString program = QStringLiteral(RELAISKARTE);
    QStringList arguments = args;
    if (asNobody) {
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        if (setpriv.isEmpty() || ::geteuid() != 0) {
            *skip = QStringLiteral("dropping to nobody needs root and setpriv");
            return {};
        }
        arguments = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", program} + args;
        program = setpriv;
    }
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(30000);
    Run run{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardError()).trimmed()};
    if (asNobody && run.err.contains(QLatin1String("setpriv"))) {
        // In a user namespace (a user's private /dev) root is only mapped.
        *skip = QStringLiteral("setpriv failed here, it needs real root: ") + run.err;
    }
    return run;
}

QDBusMessage call(QDBusConnection bus, const QString& method, const QVariantList& args = {}) {
    QDBusMessage m =
        QDBusMessage::createMethodCall(bus::kService, bus::kPath, bus::kInterface, method);
    m.setArguments(args);
    // The window may live on this very thread: keep its events flowing.
    return bus.call(m, QDBus::BlockWithGui, 10000);
}

QVariant busProperty(QDBusConnection bus, const QString& name) {
    QDBusMessage m = QDBusMessage::createMethodCall(
        bus::kService, bus::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    m << bus::kInterface << name;
    const QDBusMessage reply = bus.call(m, QDBus::BlockWithGui, 10000);
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

} // namespace

class TestScripting : public QObject {
    Q_OBJECT

public slots:
    void propertiesChanged(const QString&, const QVariantMap& changed, const QStringList&) {
        changes_ << changed;
    }

private slots:
    void initTestCase() {
        // The program resolves "COM n" to the machine's ports: never where one is visible.
        const QStringList serial =
            QDir(QStringLiteral("/dev")).entryList({"ttyS*", "ttyUSB*", "ttyACM*"}, QDir::System);
        QVERIFY2(serial.isEmpty(), "real serial ports are visible: run this through "
                                   "tools/without-serial-devices (ctest does)");
    }
    void oneShotAndHold() {
        Pty pty;
        const Run once = runProgram({"--port", pty.path(), "--relays", "3,16"});
        QCOMPARE(once.exitCode, 0);
        QCOMPARE(pty.readAvailable(), QByteArray("32772"));

        QProcess hold;
        hold.start(QStringLiteral(RELAISKARTE), {"--port", pty.path(), "--mask", "4", "--hold"});
        QCOMPARE(pty.readExactly(10), QByteArray("0000400004"));
        ::kill(pid_t(hold.processId()), SIGTERM);
        QVERIFY(hold.waitForFinished(10000));
        QCOMPARE(hold.exitStatus(), QProcess::NormalExit);
        QCOMPARE(hold.exitCode(), 0);
        pty.readAvailable();
        QTest::qWait(300);
        QCOMPARE(pty.readAvailable(), QByteArray()); // nothing on the way out
    }

    void openFailures_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing") << "missing" << 3 << messages::kPortNotFound;
        QTest::newRow("no permission")
            << "0620" << 5 << messages::kPermissionDenied + "\n%1: Permission denied";
        QTest::newRow("in use") << "0666 held" << 4 << messages::kPortInUse;
        QTest::newRow("free") << "0666" << 0 << QString();
    }
    void openFailures() {
        QFETCH(QString, how);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        Pty pty;
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl holder(resolver);
        QString device = pty.path();
        if (how == QLatin1String("missing")) {
            device = QStringLiteral("/dev/ttyNoSuchDevice7");
        } else {
            QCOMPARE(::chmod(qPrintable(device), mode_t(how.left(4).toInt(nullptr, 8))), 0);
        }
        if (how.endsWith(QLatin1String("held"))) {
            holder.open();
        }
        QString skip;
        const Run run = runProgram({"--port", device, "--mask", "1"}, how != "missing", &skip);
        if (!skip.isEmpty()) {
            QSKIP(qPrintable(skip));
        }
        QCOMPARE(run.err, message.contains('%') ? message.arg(device) : message);
        QCOMPARE(run.exitCode, exitCode);
    }

    // The contract every way in keeps, through the command line: a bad
    // argument is exit code 2, a port's error its own code (3 to 6). The
    // command line starts a link of its own, so only the rows that begin
    // stopped and name a pattern or a port are its to keep.
    void contractOnTheCommandLine_data() {
        contractRowNumbers([](const ContractRow& row) {
            const QString verb = row.verb();
            const bool on = verb != "set" || row.command.at(2).toBool();
            return !row.running && on && (verb == "set" || verb == "all" || verb == "start") &&
                   row.command.at(1) != QJsonValue(QString());
        });
    }
    void contractOnTheCommandLine() {
        QFETCH(int, index);
        const ContractRow row = contractRows().at(index);
        const QString verb = row.verb();
        Pty a;
        QTemporaryFile file;
        QVERIFY(file.open());
        const QHash<QString, QString> names{
            {"A", a.path()}, {"MISSING", "COM 5"}, {"FILE", file.fileName()}, {"BAD", "COM 9"}};
        const QString value = QString::number(qint64(row.command.at(1).toDouble()));
        const Run run = runProgram(
            verb == "set" ? QStringList{"--port", a.path(), "--relays", value}
            : verb == "all"
                ? QStringList{"--port", a.path(), "--mask", value}
                : QStringList{"--port", names.value(row.command.at(1).toString()), "--mask", "1"});
        const int code = run.exitCode;
        const QString outcome = code == 0                ? "done"
                                : code == kExitUsage     ? "bad"
                                : code >= 3 && code <= 6 ? "port"
                                                         : QString::number(code);
        QCOMPARE(outcome, row.expectLocal);
    }

    // --pulse with --port: "on" frames, then one "off", and the port closed;
    // the relay by number or by its name in the settings, the length given
    // or its own; a bad one refused before the port is opened.
    void pulseOnTheCommandLine_data() {
        QTest::addColumn<QString>("pulse");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::newRow("number and length") << "3:300ms" << 0 << "";
        QTest::newRow("name, its own length") << "Pumpe" << 0 << "";
        QTest::newRow("too short") << "3:100ms" << 2 << "Impuls von 100 ms";
        QTest::newRow("no length anywhere") << "4" << 2 << "Relais 4 hat keine Impulslänge";
        QTest::newRow("no such relay") << "17:1s" << 2 << "Ungültiger Impuls »17:1s«";
        QTest::newRow("a bad length") << "3:1x" << 2 << "Ungültiger Impuls »3:1x«";
    }
    void pulseOnTheCommandLine() {
        QFETCH(QString, pulse);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        Pty pty;
        QTemporaryDir dir;
        const QString settings = settingsFile(dir, "[relay.3]\nname = Pumpe\npulse = 400ms\n");
        const Run run = runProgram({"--config", settings, "--port", pty.path(), "--pulse", pulse});
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(run.err.contains(said), qPrintable(run.err));
        const QByteArray frames = pty.readAvailable();
        if (exitCode != 0) {
            QCOMPARE(frames, QByteArray());
            return;
        }
        // At least two frames carry the "on" (a pulse is two ticks or more), the last is "off".
        QVERIFY2(frames.startsWith("0000400004") && frames.endsWith("0000400000") &&
                     !frames.mid(0, frames.size() - 5).contains("00000"),
                 frames.constData());
    }

    // power_on = last across a killed and restarted service: the second run
    // sends the pattern the first had, before anything else.
    void lastPatternAfterAKill() {
        Pty pty;
        QTemporaryDir dir;
        const QString settings = settingsFile(dir, "[link]\npower_on = last\n");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("STATE_DIRECTORY"), dir.filePath(QStringLiteral("state")));
        const auto run = [&](const QStringList& pattern) {
            auto* p = new QProcess(this);
            p->setProcessEnvironment(env);
            p->start(QStringLiteral(RELAISKARTE),
                     QStringList{"--config", settings, "--port", pty.path(), "--hold"} + pattern);
            return p;
        };
        QProcess* first = run({"--mask", "5"});
        QCOMPARE(pty.readExactly(5), QByteArray("00005"));
        QTRY_VERIFY(QFile::exists(dir.filePath(QStringLiteral("state/last-state.json"))));
        first->kill(); // no goodbye: the file must already hold it
        QVERIFY(first->waitForFinished(5000));
        pty.readAvailable();
        QProcess* second = run({});
        QCOMPARE(pty.readExactly(5), QByteArray("00005"));
        second->terminate();
        QVERIFY(second->waitForFinished(5000));
        QCOMPARE(second->exitCode(), 0);
    }

    // --schedule-preview: each coming switching time with its date, local
    // time, UTC offset, relay and why, across the spring night; faults in
    // an entry refused with the file and line.
    void schedulePreview_data() {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const QStringList spring{"--from", "2026-03-29", "--days", "1"};
        QTest::newRow("a time in the gap")
            << QByteArray("at = 02:30\naction = on\n") << spring << 0
            << "So. 29.03.2026 03:30 +02:00  Relais 5 (Garten) an  Licht (Zeile 4; 02:30 gibt es "
               "am 29.03.2026 nicht, also 03:30)";
        QTest::newRow("a window cut short")
            << QByteArray("window = 01:00-05:00\n") << spring << 0
            << "Warnung: Höchstdauer 1 h beendet das Fenster schon um 03:00";
        QTest::newRow("an unknown day") << QByteArray("days = Mo-Fx\nat = 02:30\naction = on\n")
                                        << spring << 2 << "Zeile 7: unbekannte Tage »Mo-Fx«";
        QTest::newRow("a bad first day")
            << QByteArray("at = 02:30\naction = on\n") << QStringList{"--from", "29.03.2026"} << 2
            << "--from ist ein Datum wie 2026-03-29";
    }
    void schedulePreview() {
        QFETCH(QByteArray, entry);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QTemporaryDir dir;
        const QString settings =
            settingsFile(dir, "[relay.5]\nname = Garten\nmax_on = 1h\n[schedule.Licht]\n"
                              "relays = Garten\nzone = Europe/Berlin\n" +
                                  entry);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TZ"), QStringLiteral("Europe/Berlin"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(RELAISKARTE),
                QStringList{"--config", settings, "--schedule-preview"} + args);
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), exitCode);
        const QString shown =
            QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        QVERIFY2(shown.contains(said), qPrintable(shown));
    }

    // The service runs the schedules on the wire: a window covering now is
    // applied at the start, as caught up; an event a few seconds ahead
    // switches on time; each change is a line with its schedule.
    void schedulesOnTheWire() {
        Pty pty;
        QTemporaryDir dir;
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto hhmmss = [](const QDateTime& t) {
            return t.toString(QStringLiteral("HH:mm:ss")).toUtf8();
        };
        // (Seconds after now: a window from an hour before to an hour after
        // would wrap at midnight, which is fine, but its edges must differ.)
        const QByteArray text =
            "[schedule.Jetzt]\nrelays = 1\nzone = UTC\nwindow = " + hhmmss(now.addSecs(-3600)) +
            "-" + hhmmss(now.addSecs(3600)) +
            "\n[schedule.Gleich]\nrelays = 2\nzone = UTC\nat = " + hhmmss(now.addSecs(5)) +
            "\naction = on\n";
        const QString settings = settingsFile(dir, text);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("STATE_DIRECTORY"), dir.filePath(QStringLiteral("state")));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(RELAISKARTE),
                QStringList{"--config", settings, "--port", pty.path(), "--hold", "--mask", "0"});
        QByteArray wire;
        // The first frames: the window applied; then, within seconds, the event.
        for (int i = 0; i < 100 && !wire.endsWith("00003"); ++i) {
            wire += pty.readExactly(5, 1000);
        }
        p.terminate();
        QVERIFY(p.waitForFinished(5000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(wire.endsWith("00003") && !wire.contains("00002"), wire.right(60).constData());
        QVERIFY2(err.contains(QStringLiteral("Relais 1 an (Zeitplan Jetzt, nachgeholt, fällig ")),
                 qPrintable(err));
        QVERIFY2(err.contains(QStringLiteral("Relais 2 an (Zeitplan Gleich)")), qPrintable(err));
    }

    // The same over D-Bus, a local caller: InvalidArgs, Error.Busy, or the
    // port's own error name.
    void contractOverDBus_data() {
        contractRowNumbers([](const ContractRow& row) { return row.verb() != "toggle"; });
    }
    void contractOverDBus() {
        QFETCH(int, index);
        const ContractRow row = contractRows().at(index);
        if (!QDBusConnection::sessionBus().isConnected()) {
            QSKIP("no session bus: this test runs under dbus-run-session");
        }
        Pty a;
        QTemporaryFile file;
        QVERIFY(file.open());
        FixedPortResolver resolver({{2, a.path()}});
        FakeMessages messages;
        RelayWindow window(resolver, &messages);
        RelayBusObject object(window, &window);
        QVERIFY(object.publish(QDBusConnection::sessionBus()));
        window.setRelays(quint16(contractBefore()));
        window.startOn(PortSpec{0, a.path()}); // A is known either way
        if (!row.running) {
            window.stop();
        }
        const QHash<QString, QString> names{{"A", a.path()},           {"", QString()},
                                            {"OTHER", "COM 3"},        {"MISSING", "COM 5"},
                                            {"FILE", file.fileName()}, {"BAD", "COM 9"}};
        QDBusConnection client =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
        const QString verb = row.verb();
        const uint number = uint(qint64(row.command.at(1).toDouble()));
        const QDBusMessage reply =
            verb == "set"     ? call(client, "SetRelay", {number, row.command.at(2).toBool()})
            : verb == "all"   ? call(client, "SetRelays", {number})
            : verb == "pulse" ? call(client, "Pulse", {number, uint(row.command.at(2).toInteger())})
            : verb == "start" ? call(client, "Start", {names.value(row.command.at(1).toString())})
                              : call(client, "Stop");
        const QString error = reply.errorName();
        const QString outcome = reply.type() == QDBusMessage::ReplyMessage          ? "done"
                                : error == "org.freedesktop.DBus.Error.InvalidArgs" ? "bad"
                                : error == bus::kInterface + ".Error.Busy"          ? "conflict"
                                : error.startsWith(bus::kInterface + ".Error.")     ? "port"
                                                                                    : error;
        QCOMPARE(outcome, row.expectLocal);
        QCOMPARE(int(window.relays()), row.mask);
        QCOMPARE(window.portInUse(), row.linkAfter ? a.path() : QString());
    }

    // The window's interface in this process, with the boxes replaced.
    void busInterfaceOfTheWindow() {
        if (!QDBusConnection::sessionBus().isConnected()) {
            QSKIP("no session bus: this test runs under dbus-run-session");
        }
        Pty pty;
        FixedPortResolver resolver;
        FakeMessages messages;
        RelayWindow window(resolver, &messages);
        RelayBusObject object(window, &window);
        QVERIFY(object.publish(QDBusConnection::sessionBus()));
        QDBusConnection client =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("client"));
        QVERIFY(client.connect(bus::kService, bus::kPath,
                               QStringLiteral("org.freedesktop.DBus.Properties"),
                               QStringLiteral("PropertiesChanged"), this,
                               SLOT(propertiesChanged(QString, QVariantMap, QStringList))));

        QCOMPARE(call(client, "SetRelay", {3u, true}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(window.findChild<GraphicalButton*>("Command5")->backColor(), kGreen);
        QCOMPARE(busProperty(client, "Relays").toUInt(), 4u);
        QTRY_COMPARE(changes_.value(0), QVariantMap({{"Relays", 4u}}));

        const QString invalid = QStringLiteral("org.freedesktop.DBus.Error.InvalidArgs");
        QCOMPARE(call(client, "SetRelay", {17u, true}).errorName(), invalid);
        QCOMPARE(call(client, "SetRelay", {0u, true}).errorName(), invalid);
        QCOMPARE(call(client, "SetRelays", {65536u}).errorName(), invalid);
        QCOMPARE(call(client, "Start", {"COM 9"}).errorName(), invalid);
        const QDBusMessage missing = call(client, "Start", {"/dev/ttyNoSuchDevice7"});
        QCOMPARE(missing.errorName(), bus::kInterface + ".Error.PortNotFound");
        QCOMPARE(missing.errorMessage(), messages::kPortNotFound);
        auto* portList = window.findChild<QComboBox*>("Combo1");
        QCOMPARE(portList->currentText(), QStringLiteral("COM Auswahl")); // as before the call
        QCOMPARE(busProperty(client, "Relays").toUInt(), 4u);
        QVERIFY(!busProperty(client, "Running").toBool());

        QCOMPARE(call(client, "Start", {pty.path()}).type(), QDBusMessage::ReplyMessage);
        QVERIFY(busProperty(client, "Running").toBool());
        // Running: another port is refused as busy, naming the one in use.
        const QDBusMessage busy = call(client, "Start", {"/dev/ttyNoSuchDevice7"});
        QCOMPARE(busy.errorName(), bus::kInterface + ".Error.Busy");
        QVERIFY(busy.errorMessage().contains(pty.path()));
        // The port in use again: nothing to do, no error.
        QCOMPARE(call(client, "Start", {pty.path()}).type(), QDBusMessage::ReplyMessage);
        QCOMPARE(busProperty(client, "Port").toString(), pty.path());
        QCOMPARE(window.findChild<GraphicalButton*>("Command19")->backColor(), kRed);
        QCOMPARE(call(client, "SetRelays", {0x8001u}).type(), QDBusMessage::ReplyMessage);
        // (The running link's own ticks, while the calls were served, sent
        // the pattern before: those frames are not this test's.)
        pty.readAvailable();
        window.tick();
        QCOMPARE(pty.readExactly(5), QByteArray("32769"));
        QTRY_VERIFY(changes_.contains(QVariantMap({{"Running", true}, {"Port", pty.path()}})));

        // No schedules in this window: nothing to pause (busy, said why), none to list.
        const QDBusMessage pause = call(client, "PauseSchedules", {true});
        QCOMPARE(pause.errorName(), bus::kInterface + ".Error.Busy");
        QCOMPARE(pause.errorMessage(), QStringLiteral("Keine Zeitpläne eingestellt."));
        QCOMPARE(call(client, "Schedule").arguments().value(0).toString(), QStringLiteral("[]"));
        QCOMPARE(call(client, "Stop").type(), QDBusMessage::ReplyMessage);
        QCOMPARE(call(client, "Stop").type(), QDBusMessage::ReplyMessage);
        QVERIFY(!window.serial().isOpen());
        QTRY_VERIFY(changes_.contains(QVariantMap({{"Running", false}, {"Port", QString()}})));
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join('|')));
    }

private:
    QList<QVariantMap> changes_;
};

QTEST_MAIN(TestScripting)
#include "test_scripting.moc"
