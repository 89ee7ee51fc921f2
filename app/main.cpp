// Without arguments the window; with arguments the command line (no
// display needed), which may also reach a running window over D-Bus. The
// window is a module loaded only when wanted, so that the command line and
// the service never load the GUI libraries.

#include "command_line.h"
#include "frame_sender.h"
#include "parser_texts.h"
#include "port_listing.h"
#include "signal_watcher.h"
#include "window_main.h"

#ifdef RELAIS_HAVE_DBUS
#include "remote_window.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QLibraryInfo>
#include <QTextStream>
#include <QTranslator>

#include <csignal>

using namespace relais;

namespace {

// The program speaks German throughout: Qt's own texts where Qt's German
// translation is installed, the command line's help in any case.
struct Translators {
    QTranslator qt;
    ParserTexts parser;
};

void setUpApplication(QCoreApplication& app, Translators& translators) {
    QCoreApplication::setApplicationName(QStringLiteral("relaiskarte"));
    QCoreApplication::setApplicationVersion(QStringLiteral(RELAIS_VERSION));
    QCoreApplication::setOrganizationName(QStringLiteral("Korvander"));
    if (translators.qt.load(QLocale(QLocale::German), QStringLiteral("qtbase"), QStringLiteral("_"),
                            QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        app.installTranslator(&translators.qt);
    }
    app.installTranslator(&translators.parser); // installed last, asked first
}

int runCommand(const Invocation& invocation) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    switch (invocation.action) {
    case Invocation::Action::Help:
    case Invocation::Action::Version:
        out << invocation.text << Qt::endl;
        return kExitOk;
    case Invocation::Action::Error:
        err << invocation.text << Qt::endl;
        return kExitUsage;
    case Invocation::Action::ListPorts:
        out << portListing() << Qt::flush;
        return kExitOk;
    case Invocation::Action::Send:
        return sendFrames(invocation.port, invocation.mask, err);
    case Invocation::Action::Hold: {
        Invocation hold = invocation;
        if (const auto error = loadCredentials(hold)) {
            err << *error << Qt::endl;
            return kExitUsage;
        }
        SignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
        QObject::connect(&watcher, &SignalWatcher::received, QCoreApplication::instance(),
                         &QCoreApplication::quit);
        return holdRelays(hold, err);
    }
    case Invocation::Action::SendToWindow: {
#ifdef RELAIS_HAVE_DBUS
        QString error;
        switch (setRelaysInRunningWindow(invocation.mask, error)) {
        case RemoteResult::Done:
            return kExitOk;
        case RemoteResult::Failed:
            err << error << Qt::endl;
            return kExitWindowFailed;
        case RemoteResult::NoWindow:
            break;
        }
#endif
        err << QStringLiteral("Kein Relaiskarte-Fenster läuft; ohne Fenster --port angeben.")
            << Qt::endl;
        return kExitUsage;
    }
    case Invocation::Action::Window:
        break;
    }
    return kExitUsage;
}

// The window module: beside the program in the build tree, in the
// program's library folder once installed.
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

} // namespace

int main(int argc, char** argv) {
    Invocation invocation;
    RunWindowFunction runWindow = nullptr;
    // Without a window, Qt's plain event loop: it wakes for the ticks at
    // about half the cost of the GLib one (the service runs for months).
    const bool glibChosen = qEnvironmentVariableIsSet("QT_NO_GLIB");
    if (!glibChosen) {
        qputenv("QT_NO_GLIB", "1");
    }
    {
        QCoreApplication app(argc, argv);
        Translators translators;
        setUpApplication(app, translators);
        invocation = parseCommandLine(QCoreApplication::arguments());
        if (invocation.action != Invocation::Action::Window) {
            return runCommand(invocation);
        }
        if (const auto error = loadCredentials(invocation)) {
            QTextStream(stderr) << *error << Qt::endl;
            return kExitUsage;
        }
        QString error;
        runWindow = loadWindow(error);
        if (runWindow == nullptr) {
            QTextStream(stderr) << QStringLiteral("Das Fenster kann nicht geladen werden: ")
                                << error << Qt::endl;
            return kExitUsage;
        }
    }
    if (!glibChosen) {
        qunsetenv("QT_NO_GLIB"); // the window keeps the desktop's usual loop
    }
    return runWindow(argc, argv, invocation.mqtt ? &invocation.mqttOptions : nullptr);
}
