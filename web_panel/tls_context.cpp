#include "tls_context.h"

#include <QFile>

#include <openssl/pem.h>

#include <cstdio>

namespace relais::web {

SSL_CTX* makeServerTls(const QString& certFile, const QString& keyFile) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) {
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    // The stream sends what is left of a piece itself; idle connections
    // give their buffers back.
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_RELEASE_BUFFERS);
    bool usable = false;
    if (FILE* f = fopen(QFile::encodeName(certFile).constData(), "r")) {
        X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
        fclose(f);
        usable = cert != nullptr && SSL_CTX_use_certificate(context, cert) == 1;
        X509_free(cert);
    }
    if (FILE* f = fopen(QFile::encodeName(keyFile).constData(), "r")) {
        EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
        fclose(f);
        usable = usable && key != nullptr && SSL_CTX_use_PrivateKey(context, key) == 1 &&
                 SSL_CTX_check_private_key(context) == 1;
        EVP_PKEY_free(key);
    }
    if (!usable) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

} // namespace relais::web
