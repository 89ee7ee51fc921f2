// The QSerialPort control against pseudo-terminals: what reaches the far end,
// the line settings, and every way an opening or a line can fail.

#include "fakes.h"
#include "far_end_pty.h"
#include "messages.h"
#include "qt_serial_control.h"
#include "relay_panel.h"
#include "worked_examples.h"

#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>

using namespace relais;

namespace {

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const CommError& e) {
        return e.number();
    }
    return 0;
}

// Runs the open probe as the unprivileged user "nobody" and returns its
// lines as key=value, or sets `skip` when that cannot be done here.
QMap<QString, QString> probeAsNobody(const QString& device, QString& skip) {
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty()) {
        skip = QStringLiteral("setpriv is not installed");
        return {};
    }
    if (::geteuid() != 0) {
        skip = QStringLiteral("needs root to drop to another user");
        return {};
    }
    QProcess p;
    p.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                      QStringLiteral("--clear-groups"), QStringLiteral(OPEN_PROBE), device});
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        skip = QStringLiteral("cannot run the probe as nobody (is the build tree readable for "
                              "other users?): ") +
               QString::fromLocal8Bit(p.readAllStandardError());
        return {};
    }
    QMap<QString, QString> result;
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('='))) {
            result[line.section(QLatin1Char('='), 0, 0)] =
                line.section(QLatin1Char('='), 1)
                    .replace(QLatin1String("\\n"), QLatin1String("\n"));
        }
    }
    return result;
}

} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT

private slots:
    void lineSettingsReachTheDriver_data() {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<int>("speed");
        QTest::addColumn<bool>("twoStopBits");
        QTest::newRow("9600,n,8,1") << "9600,n,8,1" << int(B9600) << false;
        QTest::newRow("19200,n,8,2") << "19200,n,8,2" << int(B19200) << true;
        QTest::newRow("1200,n,8,1") << "1200,n,8,1" << int(B1200) << false;
    }
    void lineSettingsReachTheDriver() {
        QFETCH(QString, settings);
        QFETCH(int, speed);
        QFETCH(bool, twoStopBits);
        Pty pty;
        QVERIFY(pty.ok());
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl comm(resolver);
        comm.setSettings(settings);
        comm.setPortOpen(true);
        const termios t = pty.attributes();
        QCOMPARE(int(cfgetospeed(&t)), speed);
        QCOMPARE(bool(t.c_cflag & CSTOPB), twoStopBits);
        QVERIFY2(!(t.c_cflag & CRTSCTS), "no hardware handshake");
        QVERIFY2(!(t.c_oflag & OPOST), "bytes leave unchanged");
        QVERIFY2(!(t.c_iflag & (IXON | IXOFF)), "no software handshake");
    }

    void malformedSettingsAreRefused() {
        FixedPortResolver resolver;
        QtSerialControl comm(resolver);
        QCOMPARE(errorOf([&] { comm.setSettings(QStringLiteral("9600;n;8;1")); }),
                 int(kErrInvalidSettings));
        QCOMPARE(comm.Settings(), QStringLiteral("9600,n,8,1"));
    }

    void everyWorkedFrameArrivesByteExact_data() {
        QTest::addColumn<QList<int>>("relaysOn");
        QTest::addColumn<QByteArray>("frame");
        for (const WorkedExample& e : workedExamples()) {
            QTest::newRow(e.name) << e.relaysOn << QByteArray(e.frame);
        }
    }
    void everyWorkedFrameArrivesByteExact() {
        QFETCH(QList<int>, relaysOn);
        QFETCH(QByteArray, frame);
        Pty pty;
        FixedPortResolver resolver({{2, pty.path()}});
        QtSerialControl comm(resolver);
        FakePanel panel;
        FakeCaption label1, label2;
        RelayPanel logic(panel.pointers(), label1, label2, comm);
        for (int k : relaysOn) {
            logic.relayClick(k);
        }
        comm.setCommPort(2);
        comm.setPortOpen(true);
        logic.Timer1_Timer();
        logic.Timer1_Timer();
        QCOMPARE(pty.readExactly(10), frame + frame);
        QCOMPARE(pty.readAvailable(), QByteArray());
    }

    void openCloseOpen() {
        Pty pty;
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl comm(resolver);
        QVERIFY(!comm.PortOpen());
        comm.setPortOpen(true);
        QVERIFY(comm.PortOpen());
        comm.setPortOpen(false);
        QVERIFY(!comm.PortOpen());
        comm.setOutput("00001"); // ignored while closed
        comm.setOutBufferCount(0);
        comm.setPortOpen(true);
        QVERIFY(comm.PortOpen());
        comm.setOutput("00002");
        QCOMPARE(pty.readExactly(5), QByteArray("00002"));
    }

    void missingPort_data() {
        QTest::addColumn<QString>("device");
        QTest::newRow("no device behind COM n") << QString();
        QTest::newRow("device node absent") << QStringLiteral("/dev/ttyNoSuchDevice7");
    }
    void missingPort() {
        QFETCH(QString, device);
        FixedPortResolver resolver;
        if (!device.isEmpty()) {
            resolver.set(3, device);
        }
        QtSerialControl comm(resolver);
        comm.setCommPort(3);
        try {
            comm.setPortOpen(true);
            QFAIL("opened a missing port");
        } catch (const CommError& e) {
            QCOMPARE(e.number(), int(kErrPortNotFound));
            QCOMPARE(e.device(), device.isEmpty() ? QStringLiteral("COM 3") : device);
            QVERIFY(!e.reason().isEmpty());
        }
        QVERIFY(!comm.PortOpen());
    }

    void secondOpenerIsTurnedAway() {
        Pty pty;
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl first(resolver);
        QtSerialControl second(resolver);
        first.setPortOpen(true);
        QCOMPARE(errorOf([&] { second.setPortOpen(true); }), int(kErrPortInUse));
        QVERIFY(!second.PortOpen());
        QVERIFY(first.PortOpen());
        first.setOutput("00007");
        QCOMPARE(pty.readExactly(5), QByteArray("00007"));
        first.setPortOpen(false);
        second.setPortOpen(true); // free again
        QVERIFY(second.PortOpen());
    }

    // What a user other than root gets: the error, and after a click on
    // "Start/Stop" the state and exactly one message.
    void otherUsers_data() {
        QTest::addColumn<bool>("heldByUs");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("message");
        QTest::newRow("no permission")
            << false << 0620 << int(kErrPermissionDenied) << "stopped"
            << messages::kPermissionDenied + QStringLiteral("\n%1: Permission denied");
        QTest::newRow("in use by another program")
            << true << 0666 << int(kErrPortInUse) << "stopped" << messages::kPortInUse;
        QTest::newRow("free and permitted") << false << 0666 << 0 << "running" << QString();
    }
    void otherUsers() {
        QFETCH(bool, heldByUs);
        QFETCH(int, mode);
        QFETCH(int, number);
        QFETCH(QString, state);
        QFETCH(QString, message);
        Pty pty;
        QVERIFY(::chmod(pty.path().toLocal8Bit().constData(), mode_t(mode)) == 0);
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl holder(resolver);
        if (heldByUs) {
            holder.setPortOpen(true);
        }
        QString skip;
        const auto result = probeAsNobody(pty.path(), skip);
        if (!skip.isEmpty()) {
            QSKIP(qPrintable(skip));
        }
        QCOMPARE(result.value(QStringLiteral("number")), QString::number(number));
        QCOMPARE(result.value(QStringLiteral("state")), state);
        QCOMPARE(result.value(QStringLiteral("message")),
                 message.contains(QLatin1Char('%')) ? message.arg(pty.path()) : message);
    }

    void stalledLineKeepsOnlyTheNewest() {
        Pty pty;
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl comm(resolver);
        comm.setPortOpen(true);
        // The far end reads nothing while far more than the system buffers
        // can hold is sent.
        qint64 mostQueued = 0;
        QByteArray last;
        for (int i = 0; i < 40000; ++i) {
            last = QByteArray::number(i % 65536).rightJustified(5, '0');
            comm.setOutput(last);
            comm.setOutBufferCount(0);
            mostQueued = std::max(mostQueued, comm.bytesQueued());
        }
        QVERIFY2(mostQueued > 0, "the line never stalled; the test proves nothing");
        // The newest frame, and at most one older frame already handed to the port.
        QVERIFY2(mostQueued <= 10, qPrintable(QString::number(mostQueued)));

        QByteArray received;
        for (int i = 0; i < 2000 && (comm.bytesQueued() > 0 || received.isEmpty()); ++i) {
            received += pty.readExactly(1, 20);
            received += pty.readAvailable();
        }
        received += pty.readExactly(1, 100);
        QCOMPARE(comm.bytesQueued(), 0);
        QVERIFY(received.endsWith(last));
        QCOMPARE(received.size() % 5, 0); // never half a frame
        for (qsizetype i = 0; i < received.size(); ++i) {
            QVERIFY(received[i] >= '0' && received[i] <= '9');
        }
    }

    void lostLineIsReportedOnceAndClosed() {
        Pty pty;
        FixedPortResolver resolver({{1, pty.path()}});
        QtSerialControl comm(resolver);
        QSignalSpy lost(&comm, &QtSerialControl::lineLost);
        comm.setPortOpen(true);
        comm.setOutput("00001");
        QCOMPARE(pty.readExactly(5), QByteArray("00001"));

        pty.closeMaster();
        QVERIFY(lost.wait(5000));
        QVERIFY(!comm.PortOpen());
        for (int i = 0; i < 200; ++i) {
            QCoreApplication::processEvents();
        }
        QCOMPARE(lost.count(), 1);

        try {
            comm.setOutput("00002");
            QFAIL("the loss was not raised");
        } catch (const CommError& e) {
            QCOMPARE(e.number(), int(kErrLineLost));
            QCOMPARE(e.device(), pty.path());
        }
        QCOMPARE(errorOf([&] { comm.setOutput("00003"); }), 0); // raised once only
        comm.setPortOpen(false);

        Pty again; // a new adapter behind the same COM port
        resolver.set(1, again.path());
        comm.setPortOpen(true);
        comm.setOutput("00004");
        QCOMPARE(again.readExactly(5), QByteArray("00004"));
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "test_serial_port.moc"
