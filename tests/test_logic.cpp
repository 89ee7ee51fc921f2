// The relay panel and the start/stop logic on plain fakes.

#include "fakes.h"
#include "messages.h"

#include <QTest>

using namespace relais;

namespace {

struct Rig {
    FakePanel panel;
    FakeSerial serial;
    FakePortList portList;
    FakeTimer timer;
    FakeButton startStop;
    FakeMessages messages;
    RelayPanel relays{panel.pointers(), panel.maskLabel, panel.lengthLabel, serial};
    LinkControl link{serial, portList, timer, startStop, messages};

    Rig() { messages.timer = &timer; }

    void startRunning() {
        portList.index = 1;
        link.startStopClicked();
        QVERIFY(serial.opened);
        serial.log.clear();
    }
    bool stopped() const {
        return !serial.opened && startStop.color == kButtonFace && !timer.enabled &&
               portList.enabled;
    }
    bool running() const {
        return serial.opened && startStop.color == kRed && timer.enabled && !portList.enabled;
    }
};

const QString kBox = QStringLiteral("Korvander: ");
const QString kDetail = QStringLiteral("\n/dev/ttyFAKE: reason");

} // namespace

class TestLogic : public QObject {
    Q_OBJECT

private slots:
    void toggle_data() {
        QTest::addColumn<quint32>("before");
        QTest::addColumn<quint32>("after");
        QTest::newRow("off turns on") << quint32(kButtonFace) << quint32(kGreen);
        QTest::newRow("on turns off") << quint32(kGreen) << quint32(kButtonFace);
        QTest::newRow("stray colour turns off") << quint32(0x00123456) << quint32(kButtonFace);
        QTest::newRow("other system colour") << quint32(0x80000005) << quint32(kButtonFace);
    }
    void toggle() {
        QFETCH(quint32, before);
        QFETCH(quint32, after);
        Rig r;
        r.panel.buttons[6].color = before;
        r.relays.toggleRelay(7);
        for (int i = 0; i < kRelayCount; ++i) {
            QCOMPARE(r.panel.buttons[i].color, i == 6 ? after : kButtonFace);
        }
        QVERIFY2(r.serial.log.isEmpty(), "a click never touches the line");
    }

    void tickCountsOnlyGreen() {
        Rig r;
        r.panel.buttons[0].color = 0x0000FF01; // close to green, but not it
        r.panel.buttons[1].color = kGreen;
        r.relays.toggleRelay(5); // two clicks between ticks cancel out
        r.relays.toggleRelay(5);
        r.relays.tick();
        QCOMPARE(r.serial.log, QStringList({"write=00002", "discard"}));
    }

    void resendRepeatsTheLastTick() {
        Rig r;
        r.relays.resendLastFrame(); // before any tick: nothing to send
        QCOMPARE(r.panel.lengthLabel.caption, QStringLiteral("0"));
        QCOMPARE(r.serial.log, QStringList{"discard"});

        r.relays.toggleRelay(14);
        r.relays.tick();
        r.relays.toggleRelay(1); // not yet read by a tick
        r.panel.maskLabel.caption.clear();
        r.serial.log.clear();
        r.relays.resendLastFrame();
        QCOMPARE(r.serial.log, QStringList({"write=08192", "discard"}));
        QCOMPARE(r.panel.lengthLabel.caption, QStringLiteral("4"));
        QVERIFY2(r.panel.maskLabel.caption.isEmpty(), "the mask label is the tick's");
    }

    void failedWriteSkipsTheRest() {
        Rig r;
        r.serial.writeError = kErrLineLost;
        QVERIFY_THROWS_EXCEPTION(CommError, r.relays.tick());
        QVERIFY2(r.serial.log.isEmpty(), "no discard after a failed write");
    }

    void startStop_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("chosen");
        QTest::addColumn<int>("openError");
        QTest::addColumn<bool>("runningAfter");
        QTest::addColumn<int>("clickCountAfter");
        QTest::addColumn<QStringList>("portCalls");
        QTest::addColumn<QString>("message");

        const QStringList opening = {"settings=9600,n,8,1", "open"};
        const auto start = [&](int port) {
            return QStringList{QStringLiteral("port=%1").arg(port)} + opening;
        };
        QTest::newRow("start on COM 1") << "stopped" << 0 << 0 << true << 1 << start(1) << "";
        QTest::newRow("start on COM 8") << "stopped" << 7 << 0 << true << 1 << start(8) << "";
        QTest::newRow("port missing") << "stopped" << 1 << int(kErrPortNotFound) << false << 0
                                      << start(2) << messages::kPortNotFound;
        QTest::newRow("port in use") << "stopped" << 2 << int(kErrPortInUse) << false << 0
                                     << start(3) << messages::kPortInUse;
        QTest::newRow("no permission") << "stopped" << 3 << int(kErrPermissionDenied) << false << 0
                                       << start(4) << messages::kPermissionDenied + kDetail;
        QTest::newRow("other failure") << "stopped" << 4 << int(kErrOpenFailed) << false << 0
                                       << start(5) << messages::kOpenFailed + kDetail;
        QTest::newRow("no port chosen")
            << "stopped" << -1 << 0 << false << 1 << QStringList{} << "";
        QTest::newRow("index past the list")
            << "stopped" << 8 << 0 << false << 1 << QStringList{} << "";
        QTest::newRow("stop") << "running" << 1 << 0 << false << 1 << QStringList{"close"} << "";
        QTest::newRow("stop, other port chosen")
            << "running" << 5 << 0 << false << 1 << QStringList{"close"} << "";
        QTest::newRow("stop, close fails")
            << "running, close fails" << 1 << 0 << false << 1 << QStringList{"close"} << "";
        QTest::newRow("closed but red")
            << "closed-red" << 0 << 0 << false << 1 << QStringList{} << "";
        QTest::newRow("open but face")
            << "open-face" << 0 << 0 << false << 1 << QStringList{} << "";
    }
    void startStop() {
        QFETCH(QString, before);
        QFETCH(int, chosen);
        QFETCH(int, openError);
        QFETCH(bool, runningAfter);
        QFETCH(int, clickCountAfter);
        QFETCH(QStringList, portCalls);
        QFETCH(QString, message);

        Rig r;
        if (before.startsWith(QLatin1String("running"))) {
            r.startRunning();
            r.serial.closeFails = before.endsWith(QLatin1String("close fails"));
        }
        r.startStop.color = before == QLatin1String("closed-red") ? kRed : r.startStop.color;
        r.serial.opened = r.serial.opened || before == QLatin1String("open-face");
        r.portList.index = chosen;
        r.serial.openError = openError;

        r.link.startStopClicked();

        QCOMPARE(r.serial.log, portCalls);
        QCOMPARE(r.link.clickCount(), clickCountAfter);
        if (!before.contains(QLatin1Char('-'))) { // a consistent state to begin with
            QVERIFY(runningAfter ? r.running() : r.stopped());
        }
        QCOMPARE(r.messages.texts, message.isEmpty() ? QStringList{} : QStringList{kBox + message});
        QVERIFY(!r.messages.timerRanBehindBox);
    }

    // A device a script started on stays in the field; "Start/Stop" starts
    // there again, and stops as ever.
    void startStopOnAShownDevice() {
        Rig r;
        r.portList.device = QStringLiteral("/dev/pts/9");
        r.link.startStopClicked();
        QCOMPARE(r.serial.log, (QStringList{"device=/dev/pts/9", "settings=9600,n,8,1", "open"}));
        QVERIFY(r.running());
        r.link.startStopClicked();
        QVERIFY(r.stopped());
        r.serial.openError = kErrPortNotFound;
        r.link.startStopClicked();
        QCOMPARE(r.messages.texts, QStringList{kBox + messages::kPortNotFound});
        QVERIFY(r.stopped());
    }

    void clickCountSaturates() {
        Rig r;
        for (int i = 0; i < 40000; ++i) {
            r.link.startStopClicked();
        }
        QCOMPARE(r.link.clickCount(), 32767);
        r.portList.index = 2;
        r.link.startStopClicked();
        QVERIFY(r.running());
        r.link.startStopClicked();
        QVERIFY(r.stopped());
    }

    void closeOnExit_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("closeFails");
        QTest::addColumn<QStringList>("portCalls");
        QTest::newRow("running") << true << false << QStringList{"close"};
        QTest::newRow("stopped") << false << false << QStringList{};
        QTest::newRow("close fails") << true << true << QStringList{"close"};
    }
    void closeOnExit() {
        QFETCH(bool, running);
        QFETCH(bool, closeFails);
        QFETCH(QStringList, portCalls);
        Rig r;
        if (running) {
            r.startRunning();
        }
        r.serial.closeFails = closeFails;
        r.link.closePortOnExit();
        QCOMPARE(r.serial.log, portCalls);
        QVERIFY(!r.serial.opened);
        QVERIFY(r.messages.texts.isEmpty());
    }

    void lostLineStopsTheLinkOnce() {
        Rig r;
        r.startRunning();
        r.serial.writeError = kErrLineLost;
        const auto tick = [&] { r.relays.tick(); };
        r.link.runOnLine(tick);
        QVERIFY(r.stopped());
        QCOMPARE(r.link.clickCount(), 1);
        QCOMPARE(r.messages.texts, QStringList{kBox + messages::kLineLost + kDetail});
        QVERIFY2(!r.messages.timerRanBehindBox, "the timer must stop before the box comes up");
        r.link.runOnLine(tick);
        QCOMPARE(r.messages.texts.size(), 1);
        r.link.startStopClicked(); // one click starts again, once the cable is back
        QVERIFY(r.running());
    }
};

QTEST_GUILESS_MAIN(TestLogic)
#include "test_logic.moc"
