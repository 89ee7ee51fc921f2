// The window as a module beside the program: the command line and the
// service never load the GUI libraries.

#include "window_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace relais {

// Beside the program in the build tree, in the program's library folder
// once installed.
RunWindowFunction loadWindow(QString& error) {
    const QString name = QStringLiteral("relaiskarte-window.so");
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& path :
         {here.filePath(name),
          here.filePath(QStringLiteral(RELAIS_WINDOW_MODULE_FROM_BIN "/") + name)}) {
        if (!QFileInfo::exists(path)) {
            continue;
        }
        QLibrary module(path);
        module.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (auto run = reinterpret_cast<RunWindowFunction>(module.resolve(kRunWindowSymbol))) {
            return run; // the module stays loaded for the rest of the run
        }
        error = module.errorString();
        return nullptr;
    }
    error = QStringLiteral("%1 fehlt neben %2").arg(name, here.path());
    return nullptr;
}

} // namespace relais
