// The channel scripts use to reach the running window on Windows: what a
// request line does to the relays, and a script talking to a window over
// the real pipe.

#include "pipe_channel.h"
#include "relay_contract.h"
#include "stand_in_relays.h"

#include <QTest>

#include <thread>

using namespace relais;

namespace {

// The stand-in, with a pattern to begin with.
struct Relays : StandInRelays {
    Relays() { mask = 7; }
};

} // namespace

class TestWindowsPipe : public QObject {
    Q_OBJECT

private slots:
    void requests_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("mask");
        QTest::newRow("a pattern") << QByteArray("relays 4\n") << QByteArray("ok\n") << 4;
        QTest::newRow("all on") << QByteArray("relays 65535\r\n") << QByteArray("ok\n") << 65535;
        QTest::newRow("all off") << QByteArray("relays 0\n") << QByteArray("ok\n") << 0;
        QTest::newRow("too big") << QByteArray("relays 65536\n")
                                 << QByteArray("error Maske 65536 außerhalb von 0 bis 65535\n")
                                 << 7;
        QTest::newRow("negative") << QByteArray("relays -1\n")
                                  << QByteArray("error Maske -1 außerhalb von 0 bis 65535\n") << 7;
        QTest::newRow("no number")
            << QByteArray("relays\n") << QByteArray("error Unbekannte Anfrage\n") << 7;
        QTest::newRow("schedules, none") << QByteArray("schedules pause\n")
                                         << QByteArray("error Keine Zeitpläne eingestellt.\n") << 7;
        QTest::newRow("schedules, a bad word")
            << QByteArray("schedules later\n") << QByteArray("error Unbekannte Anfrage\n") << 7;
        QTest::newRow("unknown") << QByteArray("start COM1\n")
                                 << QByteArray("error Unbekannte Anfrage\n") << 7;
    }
    void requests() {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, answer);
        QFETCH(int, mask);
        Relays relays;
        QCOMPARE(pipe::answerRequest(line, relays), answer);
        QCOMPARE(int(relays.mask), mask);
    }

    // The contract every way in keeps, for the one command the pipe has:
    // a pattern, "ok" or the core's refusal as an error line.
    void contractOverThePipe_data() {
        QTest::addColumn<int>("index");
        const QList<ContractRow> rows = contractRows();
        for (int i = 0; i < rows.size(); ++i) {
            if (rows[i].verb() == QLatin1String("all")) {
                QTest::addRow("%s", qPrintable(rows[i].name)) << i;
            }
        }
    }
    void contractOverThePipe() {
        QFETCH(int, index);
        const ContractRow row = contractRows().at(index);
        StandInRelays relays;
        relays.mask = quint16(contractBefore());
        const QByteArray line =
            "relays " + QByteArray::number(qint64(row.command.at(1).toDouble())) + '\n';
        const QByteArray answer = pipe::answerRequest(line, relays);
        QCOMPARE(QString::fromLatin1(answer == "ok\n"              ? "done"
                                     : answer.startsWith("error ") ? "bad"
                                                                   : answer),
                 row.expectLocal);
        QCOMPARE(int(relays.mask), row.mask);
    }

    // Without a window, nobody answers; with one, the pattern arrives, and a
    // second window does not take the channel from the first.
    void overThePipe() {
        QString error;
        QCOMPARE(pipe::askRunningWindow({WindowRequest::Kind::Relays, 3, 0, 0}, error),
                 pipe::SendResult::NoWindow);
        Relays first, second;
        pipe::PipeServer window(first);
        QVERIFY(window.listen());
        pipe::PipeServer another(second);
        QVERIFY(!another.listen());
        pipe::SendResult result = pipe::SendResult::Failed;
        // The client waits on the pipe; the server answers from the event loop.
        std::thread script([&] {
            result = pipe::askRunningWindow({WindowRequest::Kind::Relays, 3, 0, 0}, error);
        });
        QTRY_COMPARE(int(first.mask), 3);
        script.join();
        QCOMPARE(result, pipe::SendResult::Done);
        QCOMPARE(int(second.mask), 7);
    }
};

QTEST_GUILESS_MAIN(TestWindowsPipe)
#include "test_windows_pipe.moc"
