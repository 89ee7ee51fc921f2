#include "form1.h"
#include "port_resolver.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    relais::SystemPortResolver resolver;
    relais::Form1 form(resolver);
    form.show();
    return app.exec();
}
