#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace relais::web {

// Makes a self-signed certificate (ECDSA P-256, ten years) for `names`
// (host names) and `addresses` (IP addresses), writing the key with mode
// 0600. An error text on failure.
std::optional<QString> makeSelfSigned(const QString& certFile, const QString& keyFile,
                                      const QStringList& names, const QStringList& addresses);

// "AB:CD:…": the SHA-256 of the certificate in `certFile` (PEM); empty
// with `error` set when it cannot be read.
QString fingerprint(const QString& certFile, QString& error);

} // namespace relais::web
