// Start/stop and unload on fakes: every transition, the messages, the mends.

#include "fakes.h"
#include "link_control.h"
#include "messages.h"

#include <QTest>

using namespace relais;

namespace {

struct Rig {
    FakeSerial comm;
    FakePortList combo;
    FakeTimer timer;
    FakeButton button;
    FakeMessages messages;
    LinkControl link{comm, combo, timer, button, messages};

    Rig() { messages.timer = &timer; }

    void startRunning() {
        combo.index = 1;
        link.Command19_Click();
        QVERIFY(comm.open);
        comm.log.clear();
    }
    bool stoppedState() const {
        return !comm.open && button.color == kButtonFace && !timer.enabled && combo.enabled;
    }
    bool runningState() const {
        return comm.open && button.color == kRed && timer.enabled && !combo.enabled;
    }
};

const QString kDetail = QStringLiteral("\n/dev/ttyFAKE: reason");

} // namespace

class TestLinkControl : public QObject {
    Q_OBJECT

private slots:
    void click_data() {
        QTest::addColumn<QString>("before"); // stopped, running, closed-red, open-face
        QTest::addColumn<int>("listIndex");
        QTest::addColumn<int>("openError");
        QTest::addColumn<bool>("runningAfter");
        QTest::addColumn<int>("clickCountAfter");
        QTest::addColumn<QStringList>("portCalls");
        QTest::addColumn<QString>("message");

        const QString s = QStringLiteral("Settings=9600,n,8,1");
        QTest::newRow("start on COM 1") << "stopped" << 0 << 0 << true << 1
                                        << QStringList{"CommPort=1", s, "open"} << QString();
        QTest::newRow("start on COM 8") << "stopped" << 7 << 0 << true << 1
                                        << QStringList{"CommPort=8", s, "open"} << QString();
        QTest::newRow("port missing")
            << "stopped" << 1 << int(kErrPortNotFound) << false << 0
            << QStringList{"CommPort=2", s, "open"} << messages::kPortNotFound;
        QTest::newRow("port in use")
            << "stopped" << 2 << int(kErrPortInUse) << false << 0
            << QStringList{"CommPort=3", s, "open"} << messages::kPortInUse;
        QTest::newRow("no permission")
            << "stopped" << 3 << int(kErrPermissionDenied) << false << 0
            << QStringList{"CommPort=4", s, "open"} << messages::kPermissionDenied + kDetail;
        QTest::newRow("other failure")
            << "stopped" << 4 << int(kErrOpenFailed) << false << 0
            << QStringList{"CommPort=5", s, "open"} << messages::kOpenFailed + kDetail;
        QTest::newRow("no port chosen")
            << "stopped" << -1 << 0 << false << 1 << QStringList{} << QString();
        QTest::newRow("index past the list")
            << "stopped" << 8 << 0 << false << 1 << QStringList{} << QString();
        QTest::newRow("stop") << "running" << 1 << 0 << false << 1 << QStringList{"close"}
                              << QString();
        QTest::newRow("stop, other port now chosen")
            << "running" << 5 << 0 << false << 1 << QStringList{"close"} << QString();
        QTest::newRow("closed but red")
            << "closed-red" << 0 << 0 << false << 1 << QStringList{} << QString();
        QTest::newRow("open but face")
            << "open-face" << 0 << 0 << false << 1 << QStringList{} << QString();
    }
    void click() {
        QFETCH(QString, before);
        QFETCH(int, listIndex);
        QFETCH(int, openError);
        QFETCH(bool, runningAfter);
        QFETCH(int, clickCountAfter);
        QFETCH(QStringList, portCalls);
        QFETCH(QString, message);

        Rig r;
        if (before == QLatin1String("running")) {
            r.startRunning();
        } else if (before == QLatin1String("closed-red")) {
            r.button.color = kRed;
        } else if (before == QLatin1String("open-face")) {
            r.comm.open = true;
        }
        const bool consistent =
            before == QLatin1String("stopped") || before == QLatin1String("running");
        r.combo.index = listIndex;
        r.comm.openError = openError;

        r.link.Command19_Click();

        QCOMPARE(r.comm.log, portCalls);
        QCOMPARE(r.link.clickCount(), clickCountAfter);
        if (consistent) {
            QVERIFY(runningAfter ? r.runningState() : r.stoppedState());
        }
        QCOMPARE(r.messages.texts, message.isEmpty() ? QStringList{} : QStringList{message});
        if (!message.isEmpty()) {
            QCOMPARE(r.messages.titles, QStringList{QStringLiteral("Korvander")});
        }
        QVERIFY(!r.messages.timerRanBehindBox);
    }

    void clickCountNeverOverflows() {
        Rig r;
        for (int i = 0; i < 40000; ++i) {
            r.link.Command19_Click();
        }
        QCOMPARE(r.link.clickCount(), 32767);
        r.combo.index = 2;
        r.link.Command19_Click();
        QVERIFY(r.runningState());
        r.link.Command19_Click();
        QVERIFY(r.stoppedState());
    }

    void failingCloseStillStops() {
        Rig r;
        r.startRunning();
        r.comm.closeFails = true;
        r.link.Command19_Click();
        QVERIFY(r.stoppedState());
        QVERIFY(r.messages.texts.isEmpty());
    }

    void unload_data() {
        QTest::addColumn<bool>("running");
        QTest::addColumn<bool>("closeFails");
        QTest::addColumn<QStringList>("portCalls");
        QTest::newRow("running") << true << false << QStringList{"close"};
        QTest::newRow("stopped") << false << false << QStringList{};
        QTest::newRow("close fails") << true << true << QStringList{"close"};
    }
    void unload() {
        QFETCH(bool, running);
        QFETCH(bool, closeFails);
        QFETCH(QStringList, portCalls);
        Rig r;
        if (running) {
            r.startRunning();
        }
        r.comm.closeFails = closeFails;
        bool cancel = false;
        r.link.Form_Unload(cancel);
        QVERIFY(!cancel);
        QCOMPARE(r.comm.log, portCalls);
        QVERIFY(!r.comm.open);
        QVERIFY(r.messages.texts.isEmpty());
    }

    void lostLineStopsTheLinkOnce() {
        Rig r;
        r.startRunning();
        r.comm.outputError = kErrLineLost;
        const auto tick = [&] { r.comm.setOutput("00001"); };
        r.link.runOnLine(tick);
        QVERIFY(r.stoppedState());
        QCOMPARE(r.link.clickCount(), 1);
        QCOMPARE(r.messages.texts,
                 QStringList{messages::kLineLost + QStringLiteral("\n/dev/ttyFAKE: gone")});
        QVERIFY2(!r.messages.timerRanBehindBox, "the timer must stop before the box comes up");
        r.link.runOnLine(tick);
        QCOMPARE(r.messages.texts.size(), 1);
        // Start again with one click, once the cable is back.
        r.comm.log.clear();
        r.link.Command19_Click();
        QVERIFY(r.runningState());
    }
};

QTEST_GUILESS_MAIN(TestLinkControl)
#include "test_link_control.moc"
