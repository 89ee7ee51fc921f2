// The program's own start: its window, shown once, then quit.
#include "expose_probe.h"
#include "form1.h"
#include "port_resolver.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    relais::SystemPortResolver resolver;
    relais::Form1 form(resolver);
    ExposeProbe probe(form);
    form.show();
    return app.exec();
}
