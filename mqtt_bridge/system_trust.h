#pragma once

#include <QString>

#include <optional>

struct mosquitto;

namespace relais::mqtt {

// mqtts:// without --mqtt-cafile: the broker is checked against the
// certificates the system trusts (on Linux /etc/ssl/certs, on Windows its
// certificate store). An error line when that cannot be set up.
std::optional<QString> trustSystemCertificates(mosquitto* mosq, const QString& host);

} // namespace relais::mqtt
