// The broker bridge and the web panel linked into the one Windows exe.

#include "feature_modules.h"

#include "mqtt_entry.h"
#include "web_entry.h"

namespace relais {

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

std::unique_ptr<RemoteAccess> openWebPanel(RelayOperations& relays,
                                           const web::PanelOptions& options, QTextStream& log) {
    return std::unique_ptr<RemoteAccess>(relaiskarteOpenWebPanel(relays, options, log));
}

int runWebCommand(const web::StoreCommand& command, QTextStream& out, QTextStream& err) {
    return relaiskarteRunWebCommand(command, out, err);
}

} // namespace relais
