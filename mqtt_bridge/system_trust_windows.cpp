// The certificates Windows trusts (the "ROOT" store) as OpenSSL's trust
// store, with the broker's name checked as mosquitto would.

#include "system_trust.h"

#include <mosquitto.h>

#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <windows.h>

#include <wincrypt.h>

namespace relais::mqtt {

std::optional<QString> trustSystemCertificates(mosquitto* mosq, const QString& host) {
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    if (context == nullptr) {
        return QStringLiteral("MQTT: TLS nicht einzurichten.");
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    X509_STORE* store = SSL_CTX_get_cert_store(context);
    int taken = 0;
    if (HCERTSTORE system = CertOpenSystemStoreW(0, L"ROOT")) {
        for (PCCERT_CONTEXT cert = nullptr;
             (cert = CertEnumCertificatesInStore(system, cert)) != nullptr;) {
            const unsigned char* der = cert->pbCertEncoded;
            if (X509* x509 = d2i_X509(nullptr, &der, long(cert->cbCertEncoded))) {
                taken += X509_STORE_add_cert(store, x509);
                X509_free(x509);
            }
        }
        CertCloseStore(system, 0);
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    X509_VERIFY_PARAM* check = SSL_CTX_get0_param(context);
    X509_VERIFY_PARAM_set_hostflags(check, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    const QByteArray name = host.toUtf8();
    X509_VERIFY_PARAM_set1_host(check, name.constData(), size_t(name.size()));
    // mosquitto keeps a reference of its own.
    const int rc = mosquitto_void_option(mosq, MOSQ_OPT_SSL_CTX, context);
    mosquitto_int_option(mosq, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 0);
    SSL_CTX_free(context);
    if (rc != MOSQ_ERR_SUCCESS) {
        return QStringLiteral("MQTT: TLS nicht einzurichten: %1")
            .arg(QString::fromUtf8(mosquitto_strerror(rc)));
    }
    if (taken == 0) {
        return QStringLiteral("MQTT: Windows vertraut keiner Zertifizierungsstelle; "
                              "--mqtt-cafile angeben.");
    }
    return std::nullopt;
}

} // namespace relais::mqtt
