#include "system_trust.h"

#include <mosquitto.h>

namespace relais::mqtt {

std::optional<QString> trustSystemCertificates(mosquitto* mosq, const QString&) {
    const int rc = mosquitto_tls_set(mosq, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
        return QStringLiteral("MQTT: TLS nicht einzurichten: %1")
            .arg(QString::fromUtf8(mosquitto_strerror(rc)));
    }
    return std::nullopt;
}

} // namespace relais::mqtt
