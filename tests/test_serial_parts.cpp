// The pure pieces of the serial layer: the settings text and the COM order.

#include "line_settings.h"
#include "port_resolver.h"

#include <QTest>

using namespace relais;
using P = LineSettings::Parity;
using S = LineSettings::StopBits;

Q_DECLARE_METATYPE(LineSettings)

class TestSerialParts : public QObject {
    Q_OBJECT

private slots:
    void settings_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<LineSettings>("expected");
        QTest::newRow("the program's own")
            << "9600,n,8,1" << true << LineSettings{9600, P::None, 8, S::One};
        QTest::newRow("even, 7, 2")
            << "19200,e,7,2" << true << LineSettings{19200, P::Even, 7, S::Two};
        QTest::newRow("odd, 1.5") << "2400,O,5,1.5" << true
                                  << LineSettings{2400, P::Odd, 5, S::OneAndHalf};
        QTest::newRow("baud not a number") << "fast,n,8,1" << false << LineSettings{};
        QTest::newRow("baud with blank") << " 9600,n,8,1" << false << LineSettings{};
        QTest::newRow("parity unknown") << "9600,x,8,1" << false << LineSettings{};
        QTest::newRow("nine data bits") << "9600,n,9,1" << false << LineSettings{};
        QTest::newRow("stop bits 3") << "9600,n,8,3" << false << LineSettings{};
    }
    void settings() {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const auto parsed = parseLineSettings(text);
        QCOMPARE(parsed.has_value(), valid);
        QFETCH(LineSettings, expected);
        if (valid) {
            QVERIFY(*parsed == expected);
        }
    }

    void portOrder_data() {
        QTest::addColumn<QStringList>("reported");
        QTest::addColumn<QStringList>("ordered");
        QTest::newRow("groups") << QStringList{"/dev/ttyACM0", "/dev/ttyUSB0", "/dev/ttyAMA0",
                                               "/dev/ttyS1", "/dev/ttyS0"}
                                << QStringList{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0",
                                               "/dev/ttyACM0", "/dev/ttyAMA0"};
        QTest::newRow("numbers, not letters")
            << QStringList{"/dev/ttyUSB10", "/dev/ttyUSB2", "/dev/ttyUSB1"}
            << QStringList{"/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB10"};
        QTest::newRow("others by name, then number")
            << QStringList{"/dev/rfcomm1", "/dev/ttyXRUSB0", "/dev/ttyAMA10", "/dev/ttyAMA2",
                           "/dev/ttyACM3"}
            << QStringList{"/dev/ttyACM3", "/dev/rfcomm1", "/dev/ttyAMA2", "/dev/ttyAMA10",
                           "/dev/ttyXRUSB0"};
        QTest::newRow("bare names")
            << QStringList{"ttyUSB0", "ttyS3"} << QStringList{"ttyS3", "ttyUSB0"};
    }
    void portOrder() {
        QFETCH(QStringList, reported);
        QFETCH(QStringList, ordered);
        QCOMPARE(orderSerialPorts(reported), ordered);
    }
};

QTEST_GUILESS_MAIN(TestSerialParts)
#include "test_serial_parts.moc"
