#include "remote_ways.h"

#include "feature_modules.h"

namespace relais {

std::optional<QString> loadCredentials(Invocation& invocation) {
    if (!invocation.mqttCredentialsFile.isEmpty()) {
        return mqtt::readCredentials(invocation.mqttCredentialsFile, invocation.mqttOptions);
    }
    invocation.mqttOptions.user = qEnvironmentVariable("RELAISKARTE_MQTT_USER");
    invocation.mqttOptions.password = qEnvironmentVariable("RELAISKARTE_MQTT_PASSWORD");
    return std::nullopt;
}

int forgetOnBroker(const Invocation& invocation, QTextStream& err) {
    return forgetCard(invocation.mqttOptions, err) ? kExitOk : kExitUsage;
}

std::optional<std::vector<std::unique_ptr<RemoteAccess>>>
openRemoteAccess(RelayOperations& relays, const Invocation& invocation, QTextStream& log,
                 MissingWay missing) {
    std::vector<std::unique_ptr<RemoteAccess>> ways;
    const auto keep = [&](std::unique_ptr<RemoteAccess> way) {
        const bool opened = way != nullptr;
        if (opened) {
            ways.push_back(std::move(way));
        }
        return opened || missing == MissingWay::LeftOut;
    };
    if (invocation.mqtt && !keep(joinBroker(relays, invocation.mqttOptions, log))) {
        return std::nullopt;
    }
    if (invocation.web && !keep(openWebPanel(relays, invocation.webOptions, log))) {
        return std::nullopt;
    }
    return ways;
}

} // namespace relais
