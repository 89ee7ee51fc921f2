// The command line's arguments: what each asks for, and every bad input
// turned away with a German line that names it.

#include "command_line.h"

#include <QTest>

using namespace relais;
using Action = Invocation::Action;

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<QString>("port"); // "COM n" or the device
        QTest::addColumn<int>("mask");
        QTest::addColumn<QString>("error"); // a part of the message

        const auto ok = [](const char* name, QStringList args, Action action, QString port = {},
                           int mask = 0) {
            QTest::newRow(name) << args << int(action) << port << mask << QString();
        };
        const auto bad = [](const char* name, QStringList args, const char* error) {
            QTest::newRow(name) << args << int(Action::Error) << QString() << 0
                                << QString::fromUtf8(error);
        };
        ok("no arguments", {}, Action::Window);
        ok("ports", {"--ports"}, Action::ListPorts);
        ok("COM 1, relays", {"--port", "COM 1", "--relays", "3,16"}, Action::Send, "COM 1", 32772);
        ok("COM3, mask", {"--port", "com3", "--mask", "65535"}, Action::Send, "COM 3", 65535);
        ok("bare number, all off", {"--port", "8", "--relays", "-"}, Action::Send, "COM 8", 0);
        ok("device, hold", {"--port", "/dev/pts/7", "--relays", "1, 2", "--hold"}, Action::Hold,
           "/dev/pts/7", 3);
        ok("to the window", {"--mask", "4"}, Action::SendToWindow, "", 4);
        bad("relay 17", {"--port", "1", "--relays", "17"}, "»17«");
        bad("relay 0", {"--relays", "0,3"}, "»0,3«");
        bad("empty relay", {"--relays", "1,,2"}, "»1,,2«");
        bad("mask too big", {"--mask", "65536"}, "»65536«");
        bad("mask negative", {"--mask", "-1"}, "»-1«");
        bad("COM 9", {"--port", "COM 9", "--mask", "1"}, "»COM 9«");
        bad("not a path", {"--port", "ttyS0", "--mask", "1"}, "»ttyS0«");
        bad("unknown option", {"--relay", "3"}, "relay");
        bad("stray argument", {"now"}, "»now«");
        bad("relays and mask", {"--relays", "1", "--mask", "1"}, "--mask");
        bad("port alone", {"--port", "1"}, "--relays");
        bad("hold without port", {"--hold", "--mask", "1"}, "--port");
        bad("ports and more", {"--ports", "--port", "1"}, "--ports");
        bad("port twice", {"--port", "1", "--port", "2", "--mask", "1"}, "--port");
    }
    void parse() {
        QFETCH(QStringList, args);
        QFETCH(int, action);
        QFETCH(QString, port);
        QFETCH(int, mask);
        QFETCH(QString, error);
        const Invocation result = parseCommandLine(QStringList{"relaiskarte"} + args);
        QCOMPARE(int(result.action), action);
        QCOMPARE(int(result.mask), mask);
        const QString parsedPort = result.port.number
                                       ? QStringLiteral("COM %1").arg(result.port.number)
                                       : result.port.device;
        QCOMPARE(parsedPort, port);
        QVERIFY2(result.text.contains(error), qPrintable(result.text));
        QVERIFY(!result.text.contains(QLatin1Char('\n')));
    }

    void helpNamesEveryOptionAndExitCode() {
        const Invocation help = parseCommandLine({"relaiskarte", "--help"});
        QCOMPARE(help.action, Action::Help);
        for (const char* word : {"--ports", "--port", "--relays", "--mask", "--hold", "--version",
                                 "7 Verbindung unterbrochen"}) {
            QVERIFY2(help.text.contains(QLatin1String(word)), word);
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "test_command_line.moc"
