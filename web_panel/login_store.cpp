#include "login_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <filesystem>

namespace relais::web {

namespace {

constexpr int kLogN = 15;
constexpr int kR = 8;
constexpr int kP = 1;
constexpr int kSaltBytes = 16;
constexpr int kHashBytes = 32;
constexpr quint64 kScryptMemory = 64ull << 20;

QByteArray scrypt(const QByteArray& password, const QByteArray& salt, int logN, int r, int p) {
    QByteArray out(kHashBytes, '\0');
    if (EVP_PBE_scrypt(password.constData(), size_t(password.size()),
                       reinterpret_cast<const unsigned char*>(salt.constData()),
                       size_t(salt.size()), quint64(1) << logN, quint64(r), quint64(p),
                       kScryptMemory, reinterpret_cast<unsigned char*>(out.data()),
                       size_t(out.size())) != 1) {
        return {};
    }
    return out;
}

QByteArray randomBytes(int count) {
    QByteArray bytes(count, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), count) != 1) {
        qFatal("no random numbers"); // never hand out a guessable secret
    }
    return bytes;
}

constexpr auto kBase64 = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

QByteArray hashPassword(const QByteArray& password) {
    const QByteArray salt = randomBytes(kSaltBytes);
    return "scrypt$" + QByteArray::number(kLogN) + '$' + QByteArray::number(kR) + '$' +
           QByteArray::number(kP) + '$' + salt.toBase64(kBase64) + '$' +
           scrypt(password, salt, kLogN, kR, kP).toBase64(kBase64);
}

bool verifyPassword(const QByteArray& password, const QByteArray& stored) {
    const QList<QByteArray> parts = stored.trimmed().split('$');
    bool ok = parts.size() == 6 && parts[0] == "scrypt";
    int logN = kLogN, r = kR, p = kP;
    QByteArray salt = QByteArray(kSaltBytes, 'x');
    QByteArray expected = QByteArray(kHashBytes, '\0');
    if (ok) {
        bool a = false, b = false, c = false;
        const int storedLogN = parts[1].toInt(&a), storedR = parts[2].toInt(&b),
                  storedP = parts[3].toInt(&c);
        // Only what this program writes; anything else is broken, not a
        // reason to spend unbounded memory.
        ok = a && b && c && storedLogN >= 10 && storedLogN <= 20 && storedR >= 1 && storedR <= 16 &&
             storedP >= 1 && storedP <= 4;
        if (ok) {
            logN = storedLogN, r = storedR, p = storedP;
            salt = QByteArray::fromBase64(parts[4], kBase64);
            expected = QByteArray::fromBase64(parts[5], kBase64);
            ok = expected.size() == kHashBytes && !salt.isEmpty();
        }
    }
    // The same work whether or not there is anything to compare against.
    const QByteArray actual = scrypt(password, salt, logN, r, p);
    const bool same = actual.size() == kHashBytes && expected.size() == kHashBytes &&
                      CRYPTO_memcmp(actual.constData(), expected.constData(), kHashBytes) == 0;
    return ok && same;
}

QByteArray newSecret() {
    return randomBytes(32).toBase64(kBase64);
}

QByteArray secretDigest(const QByteArray& secret) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(secret.constData(), size_t(secret.size()), digest, &length, EVP_sha256(), nullptr);
    return QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex();
}

bool isValidTokenName(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return pattern.match(name).hasMatch();
}

QHash<QString, QByteArray> TokenFile::read() const {
    QHash<QString, QByteArray> tokens;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return tokens;
    }
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() == 2 && fields[1].size() == 64) {
            tokens.insert(QString::fromUtf8(fields[0]), fields[1]);
        }
    }
    return tokens;
}

std::optional<QString> TokenFile::write(const QHash<QString, QByteArray>& tokens) const {
    QStringList names = tokens.keys();
    names.sort();
    QByteArray text;
    for (const QString& name : names) {
        text += name.toUtf8() + ' ' + tokens.value(name) + '\n';
    }
    return writePrivateFile(path_, text);
}

QByteArray TokenFile::add(const QString& name, QString& error) const {
    if (!isValidTokenName(name)) {
        error = QStringLiteral("Ungültiger Name »%1«: erlaubt sind 1 bis 64 Zeichen aus A-Z, a-z, "
                               "0-9, Punkt, _ und -.")
                    .arg(name);
        return {};
    }
    QHash<QString, QByteArray> tokens = read();
    if (tokens.contains(name)) {
        error =
            QStringLiteral("Ein Token »%1« gibt es schon; erst --revoke-web-token %1.").arg(name);
        return {};
    }
    const QByteArray token = newSecret();
    tokens.insert(name, secretDigest(token));
    if (const auto failed = write(tokens)) {
        error = *failed;
        return {};
    }
    return token;
}

bool TokenFile::revoke(const QString& name, QString& error) const {
    QHash<QString, QByteArray> tokens = read();
    if (!tokens.remove(name)) {
        error = QStringLiteral("Kein Token »%1«.").arg(name);
        return false;
    }
    if (const auto failed = write(tokens)) {
        error = *failed;
        return false;
    }
    return true;
}

QStringList TokenFile::names() const {
    QStringList names = read().keys();
    names.sort();
    return names;
}

std::optional<QString> TokenFile::holder(const QByteArray& token) const {
    const QByteArray digest = secretDigest(token);
    std::optional<QString> found;
    const QHash<QString, QByteArray> tokens = read();
    for (auto it = tokens.begin(); it != tokens.end(); ++it) {
        // Every stored token compared in full: the time tells nothing.
        if (CRYPTO_memcmp(it.value().constData(), digest.constData(), 64) == 0) {
            found = it.key();
        }
    }
    return found;
}

SessionStore::SessionStore(QString path) : path_(std::move(path)) {
    QFile file(path_);
    if (file.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(' ');
            if (fields.size() == 2 && fields[0] == "password") {
                password_ = fields[1] == "-" ? QByteArray() : fields[1];
            } else if (fields.size() == 2 && fields[0].size() == 64) {
                lastUsed_.insert(fields[0], fields[1].toLongLong());
            }
        }
    }
}

void SessionStore::passwordIs(const QByteArray& storedLine, qint64 now) {
    const QByteArray digest = storedLine.isEmpty() ? QByteArray() : secretDigest(storedLine);
    if (digest == password_) {
        return;
    }
    password_ = digest;
    if (!lastUsed_.isEmpty()) {
        lastUsed_.clear();
        save(now, true);
    }
}

QByteArray SessionStore::open(qint64 now) {
    if (password_.isEmpty()) {
        return {}; // no password, no session
    }
    const QByteArray cookie = newSecret();
    lastUsed_.insert(secretDigest(cookie), now);
    save(now, true);
    return cookie;
}

bool SessionStore::use(const QByteArray& cookie, qint64 now) {
    if (password_.isEmpty()) {
        return false;
    }
    const auto found = lastUsed_.find(secretDigest(cookie));
    if (found == lastUsed_.end()) {
        return false;
    }
    if (now - found.value() > kLifetimeSeconds) {
        lastUsed_.erase(found);
        save(now, true);
        return false;
    }
    found.value() = now;
    dirty_ = true;
    save(now);
    return true;
}

void SessionStore::close(const QByteArray& cookie) {
    if (lastUsed_.remove(secretDigest(cookie)) > 0) {
        save(savedAt_, true);
    }
}

void SessionStore::save(qint64 now, bool force) {
    if (!force && (!dirty_ || now - savedAt_ < 3600)) {
        return;
    }
    QByteArray text = "password " + (password_.isEmpty() ? QByteArray("-") : password_) + '\n';
    for (auto it = lastUsed_.begin(); it != lastUsed_.end();) {
        if (now - it.value() > kLifetimeSeconds) {
            it = lastUsed_.erase(it);
            continue;
        }
        text += it.key() + ' ' + QByteArray::number(it.value()) + '\n';
        ++it;
    }
    if (!writePrivateFile(path_, text)) {
        dirty_ = false;
        savedAt_ = now;
    }
}

} // namespace relais::web
