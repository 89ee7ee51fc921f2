// Prints the device behind each of COM 1 to COM 8 on this machine, one per
// line ("COM 1 /dev/ttyS0"; "COM 2 -" for none).

#include "port_resolver.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    relais::SystemPortResolver resolver;
    QTextStream out(stdout);
    for (int port = 1; port <= 8; ++port) {
        out << "COM " << port << ' ' << resolver.devicePath(port).value_or(QStringLiteral("-"))
            << '\n';
    }
    return 0;
}
