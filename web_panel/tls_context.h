#pragma once

#include <QString>

#include <openssl/ssl.h>

namespace relais::web {

// The server's TLS: TLS 1.2 and newer, with the certificate and key in the
// given PEM files; null when they cannot be used.
SSL_CTX* makeServerTls(const QString& certFile, const QString& keyFile);

} // namespace relais::web
