#include "mqtt_entry.h"

#include "card_forgetting.h"
#include "mqtt_bridge.h"

#include <QtGlobal>

extern "C" Q_DECL_EXPORT relais::RemoteAccess*
relaiskarteJoinBroker(relais::RelayOperations& relays, const relais::mqtt::BridgeOptions& options,
                      QTextStream& log) {
    auto bridge = std::make_unique<relais::mqtt::Bridge>(relays, options, log);
    return bridge->start() ? bridge.release() : nullptr;
}

extern "C" Q_DECL_EXPORT bool relaiskarteForgetCard(const relais::mqtt::BridgeOptions& options,
                                                    QTextStream& log) {
    return relais::mqtt::forgetCard(options, log);
}
