// Opens a device as COM 1 and prints the result: 0, or the error number.
// Run as another user to see what that user gets.

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
    try {
        comm.setPortOpen(true);
        out << 0 << Qt::endl;
    } catch (const relais::CommError& e) {
        out << e.number() << ' ' << e.device() << ": " << e.reason() << Qt::endl;
    }
    return 0;
}
