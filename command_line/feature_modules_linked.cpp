// The features linked into the one Windows exe; the web panel is not in it
// yet and is refused with one line.

#include "feature_modules.h"

#include "mqtt_entry.h"

namespace relais {

namespace {
const QString kNoWebPanel =
    QStringLiteral("Web-Panel: in dieser Ausgabe von relaiskarte nicht enthalten.");
}

QFunctionPointer moduleEntry(const QString&, const char*, QString& error) {
    error = QStringLiteral("keine Module in dieser Ausgabe");
    return nullptr;
}

std::unique_ptr<RemoteAccess> joinBroker(RelayOperations& relays,
                                         const mqtt::BridgeOptions& options, QTextStream& log) {
    return std::unique_ptr<RemoteAccess>(relaiskarteJoinBroker(relays, options, log));
}

bool forgetCard(const mqtt::BridgeOptions& options, QTextStream& log) {
    return relaiskarteForgetCard(options, log);
}

std::unique_ptr<RemoteAccess> openWebPanel(RelayOperations&, const web::PanelOptions&,
                                           QTextStream& log) {
    log << kNoWebPanel << Qt::endl;
    return nullptr;
}

int runWebCommand(const web::StoreCommand&, QTextStream&, QTextStream& err) {
    err << kNoWebPanel << Qt::endl;
    return 2;
}

} // namespace relais
