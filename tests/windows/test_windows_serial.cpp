// What Qt Serial Port's answers mean on Windows, on its real Windows
// backend: run under Wine by tools/test-windows, with COM 1 led to a pty
// and no other port.

#include "link_control.h"
#include "messages.h"
#include "port_platform.h"
#include "port_resolver.h"
#include "qt_serial_control.h"
#include "serial_control.h"

#include <QTest>

#include <windows.h>

using namespace relais;

Q_DECLARE_METATYPE(QSerialPort::SerialPortError)

class WindowsSerialTest : public QObject {
    Q_OBJECT

private slots:
    void failedOpening_data() {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        // A port another program holds answers ERROR_ACCESS_DENIED, which Qt
        // calls a permission error: on Windows it means "in use".
        QTest::newRow("held by another program")
            << QSerialPort::PermissionError << int(kErrPortInUse) << messages::kPortInUse;
        QTest::newRow("no such port")
            << QSerialPort::DeviceNotFoundError << int(kErrPortNotFound) << messages::kPortNotFound;
        QTest::newRow("driver refuses")
            << QSerialPort::OpenError << int(kErrOpenFailed) << messages::kOpenFailed;
        QTest::newRow("anything else")
            << QSerialPort::UnknownError << int(kErrOpenFailed) << messages::kOpenFailed;
    }
    void failedOpening() {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(int, number);
        QFETCH(QString, message);
        QCOMPARE(QtSerialControl::openFailure(error), number);
        const QString shown =
            messageFor(CommError(QtSerialControl::openFailure(error), "COM1", "reason"));
        QVERIFY2(shown.startsWith(message), qPrintable(shown));
        QVERIFY(!shown.contains(messages::kPermissionDenied));
    }

    // Whatever a pulled adapter's driver answers, a running link has lost
    // its line, and the reason shown is the port's own (Windows') text.
    void errorWhileOpen_data() {
        QTest::addColumn<QSerialPort::SerialPortError>("error");
        QTest::addColumn<bool>("lost");
        QTest::newRow("device removed") << QSerialPort::ResourceError << true;
        QTest::newRow("access denied") << QSerialPort::PermissionError << true;
        QTest::newRow("write failed") << QSerialPort::WriteError << true;
        QTest::newRow("read failed") << QSerialPort::ReadError << true;
        QTest::newRow("unknown") << QSerialPort::UnknownError << true;
        QTest::newRow("timeout") << QSerialPort::TimeoutError << false;
        QTest::newRow("not open") << QSerialPort::NotOpenError << false;
        QTest::newRow("unsupported") << QSerialPort::UnsupportedOperationError << false;
    }
    void errorWhileOpen() {
        QFETCH(QSerialPort::SerialPortError, error);
        QFETCH(bool, lost);
        QSerialPort port;
        const auto reason = port_platform::lostLineReason(port, error, 0);
        QCOMPARE(reason.has_value(), lost);
        if (lost) {
            QCOMPARE(*reason, port.errorString());
        }
    }

    // COM n is the system's COMn, and only the ports the system has count.
    void comPortsAsTheSystemHasThem() {
        const QStringList devices = SystemPortResolver::devicesInComOrder();
        QCOMPARE(devices.size(), kPortCount);
        QCOMPARE(devices[0], QStringLiteral("COM1"));
        for (int n = 2; n <= kPortCount; ++n) {
            QVERIFY2(devices[n - 1].isEmpty(), qPrintable(devices[n - 1]));
        }
        SystemPortResolver resolver;
        QCOMPARE(resolver.devicePath(1).value_or(QString()), QStringLiteral("COM1"));
        QVERIFY(!resolver.devicePath(2));
    }

    // A missing port, by number and by device name, through the real
    // backend: "nicht vorhanden", with Windows' reason rather than a Unix one.
    void missingPort_data() {
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("device");
        QTest::newRow("COM 2") << 2 << QString();
        QTest::newRow("\\\\.\\COM7") << 0 << QStringLiteral("\\\\.\\COM7");
    }
    void missingPort() {
        QFETCH(int, number);
        QFETCH(QString, device);
        SystemPortResolver resolver;
        QtSerialControl serial(resolver);
        if (number > 0) {
            serial.setPortNumber(number);
        } else {
            serial.setDevice(device);
        }
        try {
            serial.open();
            QFAIL("opened a port that is not there");
        } catch (const CommError& error) {
            QCOMPARE(error.number(), int(kErrPortNotFound));
            QCOMPARE(error.reason(), qt_error_string(ERROR_FILE_NOT_FOUND));
            QVERIFY2(!error.reason().contains("No such file"), qPrintable(error.reason()));
            QVERIFY(messageFor(error).startsWith(messages::kPortNotFound));
        }
        QVERIFY(!serial.isOpen());
    }

    // The port that is there opens, with the line settings the unit needs.
    void existingPortOpens() {
        SystemPortResolver resolver;
        QtSerialControl serial(resolver);
        serial.setPortNumber(1);
        serial.setSettings(QStringLiteral("9600,n,8,1"));
        serial.open();
        QVERIFY(serial.isOpen());
        QCOMPARE(serial.device(), QStringLiteral("COM1"));
        serial.close();
        QVERIFY(!serial.isOpen());
    }
};

QTEST_GUILESS_MAIN(WindowsSerialTest)
#include "test_windows_serial.moc"
