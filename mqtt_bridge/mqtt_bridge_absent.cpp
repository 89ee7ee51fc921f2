// Where the program is built without an MQTT library (the Windows build
// for now): --mqtt is refused with one line rather than ignored.

#include "mqtt_bridge.h"

namespace relais::mqtt {

Bridge::Bridge(RelayOperations& relays, BridgeOptions options, QTextStream& log, QObject* parent)
    : QObject(parent), relays_(relays), options_(std::move(options)), log_(log) {}

Bridge::~Bridge() = default;

bool Bridge::start() {
    log_ << QStringLiteral("MQTT: in dieser Ausgabe von relaiskarte nicht enthalten.") << Qt::endl;
    return false;
}

void Bridge::leave(int) {}

bool forgetCard(const BridgeOptions&, QTextStream& log) {
    log << QStringLiteral("MQTT: in dieser Ausgabe von relaiskarte nicht enthalten.") << Qt::endl;
    return false;
}

} // namespace relais::mqtt
