// The features as modules beside the program, loaded on first use.

#include "feature_modules.h"

#include "exit_codes.h"

#include "mqtt_entry.h"
#include "web_entry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>

namespace relais {

namespace {

template <typename Function>
Function entry(const QString& name, const char* symbol, QTextStream& log) {
    QString error;
    auto function = reinterpret_cast<Function>(moduleEntry(name, symbol, error));
    if (function == nullptr) {
        log << QStringLiteral("Das Modul %1 kann nicht geladen werden: %2").arg(name, error)
            << Qt::endl;
    }
    return function;
}

} // namespace

QFunctionPointer moduleEntry(const QString& name, const char* symbol, QString& error) {
    const QDir here(QCoreApplication::applicationDirPath());
    for (const QString& path :
         {here.filePath(name), here.filePath(QStringLiteral(RELAIS_MODULES_FROM_BIN "/") + name)}) {
        if (!QFileInfo::exists(path)) {
            continue;
        }
        QLibrary module(path);
        module.setLoadHints(QLibrary::ResolveAllSymbolsHint);
        if (QFunctionPointer function = module.resolve(symbol)) {
            return function; // the module stays loaded for the rest of the run
        }
        error = module.errorString();
        return nullptr;
    }
    error = QStringLiteral("%1 fehlt neben %2").arg(name, here.path());
    return nullptr;
}

std::unique_ptr<RemoteAccess> joinBroker(RelayOperations& relays,
                                         const mqtt::BridgeOptions& options, QTextStream& log) {
    const auto join = entry<JoinBrokerFunction>(QStringLiteral("relaiskarte-mqtt.so"),
                                                "relaiskarteJoinBroker", log);
    return std::unique_ptr<RemoteAccess>(join ? join(relays, options, log) : nullptr);
}

bool forgetCard(const mqtt::BridgeOptions& options, QTextStream& log) {
    const auto forget = entry<ForgetCardFunction>(QStringLiteral("relaiskarte-mqtt.so"),
                                                  "relaiskarteForgetCard", log);
    return forget && forget(options, log);
}

std::unique_ptr<RemoteAccess> openWebPanel(RelayOperations& relays,
                                           const web::PanelOptions& options, QTextStream& log) {
    const auto open = entry<OpenWebPanelFunction>(QStringLiteral("relaiskarte-web.so"),
                                                  "relaiskarteOpenWebPanel", log);
    return std::unique_ptr<RemoteAccess>(open ? open(relays, options, log) : nullptr);
}

int runWebCommand(const web::StoreCommand& command, QTextStream& out, QTextStream& err) {
    const auto run = entry<RunWebCommandFunction>(QStringLiteral("relaiskarte-web.so"),
                                                  "relaiskarteRunWebCommand", err);
    return run ? run(command, out, err) : kExitUsage;
}

} // namespace relais
