// Without arguments the window; with arguments the command line (no
// display needed), which may also reach a running window over D-Bus.

#include "command_line.h"
#include "frame_sender.h"
#include "mqtt_bridge.h"
#include "parser_texts.h"
#include "port_listing.h"
#include "relay_window.h"
#include "signal_watcher.h"

#ifdef RELAIS_HAVE_DBUS
#include "relay_bus_object.h"
#include "remote_window.h"
#endif

#include <QApplication>
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

} // namespace

int main(int argc, char** argv) {
    Invocation invocation;
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
    }

    // Qt looks once, at start, whether a screen reader wants the program;
    // one started later (the first time a user turns it on, say) would find
    // it silent. So the window is always ready for one.
    if (!qEnvironmentVariableIsSet("QT_LINUX_ACCESSIBILITY_ALWAYS_ON")) {
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
    }
    QApplication app(argc, argv);
    Translators translators;
    setUpApplication(app, translators);
    QGuiApplication::setDesktopFileName(QStringLiteral("relaiskarte"));
    SystemPortResolver resolver;
    RelayWindow window(resolver);
#ifdef RELAIS_HAVE_DBUS
    auto* busObject = new RelayBusObject(window);
    busObject->publish(QDBusConnection::sessionBus());
#endif
    // The broker, when asked for: its lines go to standard error (the
    // journal), never into a box.
    QTextStream log(stderr);
    std::unique_ptr<mqtt::Bridge> bridge;
    if (invocation.mqtt) {
        bridge = std::make_unique<mqtt::Bridge>(window, invocation.mqttOptions, log);
        bridge->start();
    }
    // At logout or when killed politely: close as "Beenden" does.
    SignalWatcher watcher({SIGINT, SIGTERM, SIGHUP});
    QObject::connect(&watcher, &SignalWatcher::received, &app, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
    window.show();
    return app.exec();
}
