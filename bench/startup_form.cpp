// The program's own start: its window, shown once, then quit.
#include "expose_probe.h"
#include "port_resolver.h"
#include "relay_window.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    relais::SystemPortResolver resolver;
    relais::RelayWindow window(resolver);
    ExposeProbe probe(window);
    window.show();
    return app.exec();
}
