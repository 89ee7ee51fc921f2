// Opens a device as COM 1 and prints what happened, so that a test can see
// what another user gets:
//   number=<0 or the error number>
//   state=<running|stopped>      (after a "Start/Stop" click with COM 1 chosen)
//   message=<the message shown, newlines as \n; empty for none>

#include "fakes.h"
#include "link_control.h"
#include "qt_serial_control.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        return 2;
    }
    relais::FixedPortResolver resolver({{1, QString::fromLocal8Bit(argv[1])}});
    relais::QtSerialControl serial(resolver);
    QTextStream out(stdout);

    int number = 0;
    try {
        serial.open();
        serial.close();
    } catch (const relais::CommError& e) {
        number = e.number();
    }
    out << "number=" << number << '\n';

    FakePortList portList;
    portList.index = 0;
    FakeTimer timer;
    FakeButton startStop;
    FakeMessages messages;
    relais::LinkControl link(serial, portList, timer, startStop, messages);
    link.startStopClicked();
    out << "state=" << (serial.isOpen() ? "running" : "stopped") << '\n';
    QString shown = messages.texts.join(QLatin1Char('|'));
    shown.remove(QStringLiteral("Korvander: ")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
    out << "message=" << shown << Qt::endl;
    return 0;
}
