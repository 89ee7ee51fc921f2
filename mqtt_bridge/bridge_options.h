#pragma once

#include <QString>

#include <optional>

namespace relais::mqtt {

// How to reach the broker and how to appear there.
struct BridgeOptions {
    QString host;
    int port = 1883;
    bool tls = false;
    QString caFile; // empty: the system's CAs
    QString name;   // the device's name in topics
    QString user;   // empty: no login
    QString password;
    QString discoveryPrefix = QStringLiteral("homeassistant"); // empty: no discovery
};

// "mqtt://host[:port]" or "mqtts://host[:port]" into `options`; an error
// text (German) when it is none of these.
std::optional<QString> parseBrokerUrl(const QString& url, BridgeOptions& options);

// Two lines, the user name and the password, from a file that only its
// owner may read; an error text otherwise.
std::optional<QString> readCredentials(const QString& path, BridgeOptions& options);

// The device name when none is given: this machine and the port, so that
// two cards never share topics.
QString defaultDeviceName(const QString& portText);

} // namespace relais::mqtt
