// The yardstick: a Qt Widgets program with one empty window.
#include "expose_probe.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.resize(506, 460);
    ExposeProbe probe(window);
    window.show();
    return app.exec();
}
