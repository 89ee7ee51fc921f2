// The relay panel on plain fakes: toggling, the mask, the frame and "Testen".

#include "fakes.h"
#include "relay_panel.h"
#include "worked_examples.h"

#include <QTest>

using namespace relais;

class TestRelayPanel : public QObject {
    Q_OBJECT

    struct Rig {
        FakePanel panel;
        FakeCaption label1{QStringLiteral("Label1")};
        FakeCaption label2{QStringLiteral("Label2")};
        FakeSerial comm;
        RelayPanel logic{panel.pointers(), label1, label2, comm};
    };

private slots:
    void tickSendsTheFrame_data() {
        QTest::addColumn<QList<int>>("relaysOn");
        QTest::addColumn<int>("mask");
        QTest::addColumn<QByteArray>("frame");
        for (const WorkedExample& e : workedExamples()) {
            QTest::newRow(e.name) << e.relaysOn << int(e.mask) << QByteArray(e.frame);
        }
    }
    void tickSendsTheFrame() {
        QFETCH(QList<int>, relaysOn);
        QFETCH(int, mask);
        QFETCH(QByteArray, frame);
        Rig r;
        for (int k : relaysOn) {
            r.logic.relayClick(k);
        }
        r.logic.Timer1_Timer();

        QCOMPARE(r.logic.relayMask(), mask);
        QVERIFY(r.logic.relayMask() >= 0);
        for (int k = 1; k <= kRelayCount; ++k) {
            QCOMPARE(r.logic.relayValue(k), relaysOn.contains(k) ? relayWeight(k) : 0);
        }
        const QString text = QString::number(mask);
        QCOMPARE(r.logic.maskText(), text);
        QCOMPARE(r.label1.caption, text);
        QCOMPARE(r.label2.caption, QString::number(text.size()));
        // One write of the whole frame, then the buffer count, nothing else.
        QCOMPARE(r.comm.log, QStringList({QStringLiteral("Output=") + QString::fromLatin1(frame),
                                          QStringLiteral("OutBufferCount=0")}));
    }

    void toggle_data() {
        QTest::addColumn<quint32>("before");
        QTest::addColumn<quint32>("after");
        QTest::newRow("off turns on") << quint32(kButtonFace) << quint32(kGreen);
        QTest::newRow("on turns off") << quint32(kGreen) << quint32(kButtonFace);
        QTest::newRow("stray colour turns off") << quint32(0x00123456) << quint32(kButtonFace);
        QTest::newRow("other system colour turns off")
            << quint32(0x80000005) << quint32(kButtonFace);
    }
    void toggle() {
        QFETCH(quint32, before);
        QFETCH(quint32, after);
        Rig r;
        r.panel.buttons[6].color = before;
        r.logic.relayClick(7);
        QCOMPARE(r.panel.buttons[6].color, after);
        for (int i = 0; i < 16; ++i) {
            if (i != 6) {
                QCOMPARE(r.panel.buttons[i].color, kButtonFace);
            }
        }
        QVERIFY2(r.comm.log.isEmpty(), "a click never touches the line");
    }

    void strayColourCountsAsOff() {
        Rig r;
        r.panel.buttons[0].color = 0x0000FF01; // close to green, but not it
        r.panel.buttons[1].color = kGreen;
        r.logic.Timer1_Timer();
        QCOMPARE(r.logic.relayMask(), 2);
    }

    void twoClicksBetweenTicksCancel() {
        Rig r;
        r.logic.relayClick(5);
        r.logic.Timer1_Timer();
        r.logic.relayClick(2);
        r.logic.relayClick(2);
        r.logic.Timer1_Timer();
        QCOMPARE(r.comm.outputs(),
                 QStringList({QStringLiteral("Output=00016"), QStringLiteral("Output=00016")}));
    }

    void testenBeforeFirstTickSendsNothing() {
        Rig r;
        r.logic.Command2_Click();
        QCOMPARE(r.label2.caption, QStringLiteral("0"));
        QCOMPARE(r.label1.caption, QStringLiteral("Label1"));
        QCOMPARE(r.comm.log, QStringList{QStringLiteral("OutBufferCount=0")});
    }

    void testenRepeatsTheLastTick() {
        Rig r;
        r.logic.relayClick(14);
        r.logic.Timer1_Timer();
        r.logic.relayClick(1); // not yet read by a tick
        r.comm.log.clear();
        r.label1.caption = QStringLiteral("untouched");
        r.logic.Command2_Click();
        QCOMPARE(r.comm.log,
                 QStringList({QStringLiteral("Output=08192"), QStringLiteral("OutBufferCount=0")}));
        QCOMPARE(r.label2.caption, QStringLiteral("4"));
        QCOMPARE(r.label1.caption, QStringLiteral("untouched"));
        QCOMPARE(r.logic.relayMask(), 8192);
        r.logic.Timer1_Timer();
        QCOMPARE(r.comm.outputs().last(), QStringLiteral("Output=08193"));
    }

    void failedWriteSkipsTheRest() {
        Rig r;
        r.comm.outputError = kErrLineLost;
        QVERIFY_THROWS_EXCEPTION(CommError, r.logic.Timer1_Timer());
        QVERIFY2(r.comm.log.isEmpty(), "no buffer count after a failed write");
    }
};

QTEST_GUILESS_MAIN(TestRelayPanel)
#include "test_relay_panel.moc"
