#include "certificate.h"

#include "login_store.h"

#include <QFile>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace relais::web {

namespace {

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Cert = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

QByteArray pem(const std::function<int(BIO*)>& write) {
    Bio bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get()) != 1) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, int(size));
}

bool addExtension(X509* cert, int nid, const QString& value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension =
        X509V3_EXT_conf_nid(nullptr, &context, nid, value.toUtf8().constData());
    if (extension == nullptr) {
        return false;
    }
    const bool added = X509_add_ext(cert, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

} // namespace

std::optional<QString> makeSelfSigned(const QString& certFile, const QString& keyFile,
                                      const QStringList& names, const QStringList& addresses) {
    const QString failed = QStringLiteral("Das Zertifikat kann nicht erzeugt werden.");
    Key key(EVP_EC_gen("P-256"));
    Cert cert(X509_new());
    if (!key || !cert) {
        return failed;
    }
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    const QByteArray random = newSecret().left(16);
    std::copy(random.begin(), random.end(), serial);
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(cert.get()));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* subject = X509_get_subject_name(cert.get());
    const QByteArray common = QStringLiteral("relaiskarte %1").arg(names.value(0)).toUtf8();
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(common.constData()), -1, -1,
                               0);
    X509_set_issuer_name(cert.get(), subject);
    QStringList alternatives;
    for (const QString& name : names) {
        alternatives << QStringLiteral("DNS:") + name;
    }
    for (const QString& address : addresses) {
        alternatives << QStringLiteral("IP:") + address;
    }
    if (!addExtension(cert.get(), NID_subject_alt_name, alternatives.join(QLatin1Char(','))) ||
        !addExtension(cert.get(), NID_basic_constraints, QStringLiteral("critical,CA:FALSE")) ||
        !addExtension(cert.get(), NID_ext_key_usage, QStringLiteral("serverAuth")) ||
        X509_sign(cert.get(), key.get(), EVP_sha256()) == 0) {
        return failed;
    }
    const QByteArray keyPem = pem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    const QByteArray certPem = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, cert.get()); });
    if (keyPem.isEmpty() || certPem.isEmpty()) {
        return failed;
    }
    if (const auto error = writePrivateFile(keyFile, keyPem)) {
        return error;
    }
    return writePrivateFile(certFile, certPem);
}

QString fingerprint(const QString& certFile, QString& error) {
    QFile file(certFile);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Zertifikat »%1« nicht lesbar.").arg(certFile);
        return {};
    }
    const QByteArray text = file.readAll();
    Bio bio(BIO_new_mem_buf(text.constData(), int(text.size())));
    Cert cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert.get(), EVP_sha256(), digest, &length) != 1) {
        error = QStringLiteral("»%1« ist kein Zertifikat im PEM-Format.").arg(certFile);
        return {};
    }
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex(':').toUpper();
}

} // namespace relais::web
