#include "port_resolver.h"
#include "relay_window.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    relais::SystemPortResolver resolver;
    relais::RelayWindow window(resolver);
    window.show();
    return app.exec();
}
