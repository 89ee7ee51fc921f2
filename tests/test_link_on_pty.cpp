// Start, stop and failures end to end: the panel and start/stop logic on
// the QSerialPort control, with "COM 2" a pseudo-terminal. Ticks are driven
// by hand, as the timer would.

#include "fakes.h"
#include "far_end_pty.h"
#include "link_control.h"
#include "messages.h"
#include "qt_serial_control.h"
#include "relay_panel.h"

#include <QSignalSpy>
#include <QTest>

using namespace relais;

namespace {

struct Rig {
    Pty pty;
    FixedPortResolver resolver{{{2, pty.path()}}};
    QtSerialControl comm{resolver};
    FakePanel panel;
    FakeCaption label1, label2;
    RelayPanel relays{panel.pointers(), label1, label2, comm};
    FakePortList combo;
    FakeTimer timer;
    FakeButton startStop;
    FakeMessages messages;
    LinkControl link{comm, combo, timer, startStop, messages};

    // What the window does on a tick: only while the timer runs.
    void tick() {
        if (timer.enabled) {
            link.runOnLine([this] { relays.Timer1_Timer(); });
        }
    }
    // A tick that comes anyway, to prove nothing reaches a stopped line.
    void strayTick() {
        link.runOnLine([this] { relays.Timer1_Timer(); });
    }
    bool stopped() const {
        return !comm.PortOpen() && startStop.color == kButtonFace && !timer.enabled &&
               combo.enabled;
    }
};

} // namespace

class TestLinkOnPty : public QObject {
    Q_OBJECT

private slots:
    void startSendStopStartAgain() {
        Rig r;
        r.combo.index = 1; // "COM 2"
        r.relays.relayClick(3);
        r.link.Command19_Click();
        QVERIFY(r.comm.PortOpen());
        QCOMPARE(r.startStop.color, kRed);
        QCOMPARE(r.comm.CommPort(), 2);
        QCOMPARE(r.comm.Settings(), QStringLiteral("9600,n,8,1"));
        const termios line = r.pty.attributes();
        QCOMPARE(int(cfgetospeed(&line)), int(B9600));

        r.tick();
        r.tick();
        QCOMPARE(r.pty.readExactly(10), QByteArray("0000400004"));
        r.relays.relayClick(16);
        r.tick();
        QCOMPARE(r.pty.readExactly(5), QByteArray("32772"));

        r.link.Command19_Click(); // stop
        QVERIFY(r.stopped());
        r.tick();
        r.strayTick();
        QCOMPARE(r.pty.readExactly(1, 300), QByteArray());

        r.relays.relayClick(3); // changed while stopped
        r.link.Command19_Click();
        r.tick();
        QCOMPARE(r.pty.readExactly(5), QByteArray("32768"));
        QVERIFY(r.messages.texts.isEmpty());
    }

    void clicksWithoutPortThenStartStop() {
        Rig r;
        for (int i = 0; i < 5; ++i) {
            r.link.Command19_Click();
        }
        QVERIFY(r.stopped());
        r.combo.index = 1;
        r.link.Command19_Click();
        r.tick();
        QCOMPARE(r.pty.readExactly(5), QByteArray("00000"));
        r.link.Command19_Click();
        QVERIFY(r.stopped());
        QCOMPARE(r.link.clickCount(), 1);
        QVERIFY(r.messages.texts.isEmpty());
    }

    void failedStarts_data() {
        QTest::addColumn<int>("listIndex");
        QTest::addColumn<bool>("heldElsewhere");
        QTest::addColumn<QString>("message");
        QTest::newRow("COM 3 missing") << 2 << false << messages::kPortNotFound;
        QTest::newRow("COM 2 in use") << 1 << true << messages::kPortInUse;
    }
    void failedStarts() {
        QFETCH(int, listIndex);
        QFETCH(bool, heldElsewhere);
        QFETCH(QString, message);
        Rig r;
        QtSerialControl other(r.resolver);
        if (heldElsewhere) {
            other.setCommPort(2);
            other.setPortOpen(true);
        }
        r.combo.index = listIndex;
        r.link.Command19_Click();
        QVERIFY(r.stopped());
        QCOMPARE(r.link.clickCount(), 0);
        QCOMPARE(r.messages.texts, QStringList{message});
        QCOMPARE(r.messages.titles, QStringList{messages::kTitle});
    }

    void farEndVanishesMidRun() {
        Rig r;
        QSignalSpy lost(&r.comm, &QtSerialControl::lineLost);
        r.combo.index = 1;
        r.link.Command19_Click();
        r.tick();
        QCOMPARE(r.pty.readExactly(5), QByteArray("00000"));

        const QString device = r.pty.path();
        r.pty.closeMaster();
        QVERIFY(lost.wait(5000));
        r.messages.timer = &r.timer;
        r.tick();
        QVERIFY(r.stopped());
        QCOMPARE(r.link.clickCount(), 1);
        QCOMPARE(r.messages.texts.size(), 1);
        QVERIFY(r.messages.texts[0].startsWith(messages::kLineLost + QStringLiteral("\n") + device +
                                               QStringLiteral(": ")));
        QVERIFY(!r.messages.timerRanBehindBox);
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            r.tick();
            r.strayTick();
        }
        QCOMPARE(r.messages.texts.size(), 1);
        QCOMPARE(lost.count(), 1);

        // A click now tries to start again and says the port is gone.
        r.link.Command19_Click();
        QVERIFY(r.stopped());
        QCOMPARE(r.messages.texts.last(), messages::kPortNotFound);
    }
};

QTEST_GUILESS_MAIN(TestLinkOnPty)
#include "test_link_on_pty.moc"
