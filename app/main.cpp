// Without arguments the window; with arguments the command line (no
// display needed), which may also reach a running window where the system
// offers a way. Where the window is a module, it is loaded only when wanted,
// so that the command line and the service never load the GUI libraries.

#include "application_setup.h"
#include "command_line.h"
#include "console.h"
#include "feature_modules.h"
#include "frame_sender.h"
#include "parser_texts.h"
#include "port_listing.h"
#include "pulse_once.h"
#include "relay_service.h"
#include "remote_ways.h"
#include "remote_window_client.h"
#include "schedule_listing.h"
#include "window_loader.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTextStream>
#include <QTranslator>

using namespace relais;

namespace {

// The program speaks German throughout: Qt's own texts where Qt's German
// translation is installed, the command line's help in any case.
struct Translators {
    QTranslator qt;
    ParserTexts parser;
};

void setUpApplication(QCoreApplication& app, Translators& translators) {
    nameApplication();
    installQtTexts(app, translators.qt);
    app.installTranslator(&translators.parser); // installed last, asked first
}

int runCommand(const Invocation& invocation) {
    QTextStream& out = consoleOut();
    QTextStream& err = consoleErr();
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
    case Invocation::Action::Hold:
    case Invocation::Action::ForgetMqtt: {
        Invocation withLogin = invocation;
        if (const auto error = loadCredentials(withLogin)) {
            err << *error << Qt::endl;
            return kExitUsage;
        }
        if (invocation.action == Invocation::Action::ForgetMqtt) {
            return forgetOnBroker(withLogin, err);
        }
        return holdRelays(withLogin, err);
    }
    case Invocation::Action::WebStore:
        return runWebCommand(invocation.webCommand, out, err);
    case Invocation::Action::SendToWindow:
        return sendToWindow(invocation.windowRequest, err);
    case Invocation::Action::PulseOnce:
        return pulseOnce(invocation, err);
    case Invocation::Action::SchedulePreview:
        return listSchedules(invocation, out);
    case Invocation::Action::Window:
        break;
    }
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
    joinCallersConsole();
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
            consoleErr() << *error << Qt::endl;
            return kExitUsage;
        }
        QString error;
        runWindow = loadWindow(error);
        if (runWindow == nullptr) {
            consoleErr() << QStringLiteral("Das Fenster kann nicht geladen werden: ") << error
                         << Qt::endl;
            return kExitUsage;
        }
    }
    if (!glibChosen) {
        qunsetenv("QT_NO_GLIB"); // the window keeps the desktop's usual loop
    }
    return runWindow(argc, argv, invocation);
}
