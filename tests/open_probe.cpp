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
    relais::QtSerialControl comm(resolver);
    QTextStream out(stdout);

    int number = 0;
    try {
        comm.setPortOpen(true);
        comm.setPortOpen(false);
    } catch (const relais::CommError& e) {
        number = e.number();
    }
    out << "number=" << number << '\n';

    FakePortList combo;
    combo.index = 0;
    FakeTimer timer;
    FakeButton button;
    FakeMessages messages;
    relais::LinkControl link(comm, combo, timer, button, messages);
    link.Command19_Click();
    out << "state=" << (comm.PortOpen() ? "running" : "stopped") << '\n';
    out << "message="
        << messages.texts.join(QLatin1Char('|')).replace(QLatin1Char('\n'), QLatin1String("\\n"))
        << Qt::endl;
    return 0;
}
