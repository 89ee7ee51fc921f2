// The window as a module beside the program: the command line and the
// service never load the GUI libraries.

#include "feature_modules.h"
#include "window_loader.h"

namespace relais {

RunWindowFunction loadWindow(QString& error) {
    return reinterpret_cast<RunWindowFunction>(
        moduleEntry(QStringLiteral("relaiskarte-window.so"), kRunWindowSymbol, error));
}

} // namespace relais
