// The window, offered to scripts and, when asked for, on the broker.

#include "window_main.h"

#include "application_setup.h"
#include "change_record.h"
#include "console.h"
#include "feature_modules.h"
#include "last_state.h"
#include "relay_window.h"
#include "remote_ways.h"
#include "schedule_start.h"
#include "screen_reader_readiness.h"
#include "shutdown_watcher.h"
#include "window_remote.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QTextStream>
#include <QTranslator>

#include <memory>

using namespace relais;

extern "C" Q_DECL_EXPORT int relaiskarteRunWindow(int argc, char** argv,
                                                  const Invocation& invocation) {
    QApplication app(argc, argv);
    prepareForScreenReaders(); // before the window's first control
    nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral("relaiskarte"));
    QTranslator qtTexts;
    installQtTexts(app, qtTexts);

    SystemPortResolver resolver;
    std::unique_ptr<ChangeRecord> record; // (outlives the window and its last words)
    RelayWindow window(resolver);
    window.setRules(invocation.rules);
    if (invocation.logChanges) {
        record = std::make_unique<ChangeRecord>(
            window.rules(), [](const QString& line) { consoleErr() << line << Qt::endl; },
            [&window] { return window.core().clock().now(); });
        window.watch(&window, [&record](const RelayChange& change) { record->changed(change); });
        window.watchRefusals(&window,
                             [&record](const Refusal& refusal, const ChangeSource& source) {
                                 record->refused(refusal, source);
                             });
    }
    if (invocation.rules.powerOnLast) {
        QStringList said;
        window.core().startFromLastState(lastStatePath(), said);
        for (const QString& line : said) {
            consoleErr() << line << Qt::endl;
        }
    }
    // The schedules, whether or not the link runs: what they switch while
    // it is stopped is what the next start sends, as for a click.
    const auto schedules = runSchedules(
        window.core(), invocation, [](const QString& line) { consoleErr() << line << Qt::endl; });
    offerWindowToScripts(window);
    // The broker's and the panel's lines go to standard error (the journal),
    // never into a box; the window runs on without what cannot work.
    QTextStream& log = consoleErr();
    const auto ways = openRemoteAccess(window, invocation, log, MissingWay::LeftOut);
    // At logout or when killed politely: close as "Beenden" does, before
    // returning (the session may end the process right after).
    ShutdownWatcher watcher;
    QObject::connect(&watcher, &ShutdownWatcher::requested, &app, [] {
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });
    window.show();
    return app.exec();
}
