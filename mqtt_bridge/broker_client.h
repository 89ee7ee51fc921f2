#pragma once

#include "bridge_options.h"

#include <QString>

#include <optional>

struct mosquitto;

namespace relais::mqtt {

inline constexpr int kQos = 1;
inline constexpr int kKeepAliveSeconds = 30;

// libmosquitto set up once for the process, before its first client.
void initBrokerLibrary();

// What every connection of ours to the broker has: the protocol, no Nagle
// delay, the login and TLS. An error line when TLS cannot be set up.
std::optional<QString> configureClient(mosquitto* mosq, const BridgeOptions& options);

// The lines both the bridge and --mqtt-forget say. `rc`: libmosquitto's
// answer, MOSQ_ERR_ERRNO with the system's `error`.
QString brokerAddress(const BridgeOptions& options);
QString connectFailure(int rc, int error);
QString clientFailedLine(int error);
QString loginRefusedLine(const BridgeOptions& options, int connack);

} // namespace relais::mqtt
