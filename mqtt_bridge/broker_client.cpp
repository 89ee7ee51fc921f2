#include "broker_client.h"

#include "system_trust.h"

#include <mosquitto.h>

#include <cstring>

namespace relais::mqtt {

void initBrokerLibrary() {
    struct Library {
        Library() { mosquitto_lib_init(); }
        ~Library() { mosquitto_lib_cleanup(); }
    };
    static Library library;
}

std::optional<QString> configureClient(mosquitto* mosq, const BridgeOptions& options) {
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // States are small and go out one after the other: no waiting to fill packets.
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    if (!options.user.isEmpty()) {
        mosquitto_username_pw_set(mosq, options.user.toUtf8().constData(),
                                  options.password.toUtf8().constData());
    }
    if (options.tls && options.caFile.isEmpty()) {
        return trustSystemCertificates(mosq, options.host);
    }
    if (options.tls) {
        const QByteArray ca = options.caFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return QStringLiteral("MQTT: TLS nicht einzurichten (%1): %2")
                .arg(options.caFile, QString::fromUtf8(mosquitto_strerror(rc)));
        }
    }
    return std::nullopt;
}

QString brokerAddress(const BridgeOptions& options) {
    return QStringLiteral("%1:%2").arg(options.host).arg(options.port);
}

QString connectFailure(int rc, int error) {
    return rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(error))
                                : QString::fromUtf8(mosquitto_strerror(rc));
}

QString clientFailedLine(int error) {
    return QStringLiteral("MQTT: kann keine Verbindung anlegen: %1").arg(strerror(error));
}

QString loginRefusedLine(const BridgeOptions& options, int connack) {
    return QStringLiteral("MQTT: Der Broker %1 lehnt die Anmeldung ab: %2")
        .arg(brokerAddress(options), QString::fromUtf8(mosquitto_connack_string(connack)));
}

} // namespace relais::mqtt
