#pragma once

#include "private_file.h"

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace relais::web {

// A password as stored: scrypt (N=2^15, r=8, p=1; 32 MiB, a tenth of a
// second) with a random salt, in one line "scrypt$15$8$1$<salt>$<hash>".
QByteArray hashPassword(const QByteArray& password);
// Whether `password` matches the stored line. Costs the same time for a
// wrong password as for a right one, and for a missing or broken line.
bool verifyPassword(const QByteArray& password, const QByteArray& stored);

// A random secret of 256 bits as URL-safe text: session cookies and tokens.
QByteArray newSecret();
// How secrets are kept: SHA-256, hex. They are random and long, so a fast
// hash is enough; nobody can guess one back from it.
QByteArray secretDigest(const QByteArray& secret);

// Names of bearer tokens: 1 to 64 of A-Z a-z 0-9 . _ -
bool isValidTokenName(const QString& name);

// The tokens beside the password file, one "name digest" per line. Read
// afresh each time, so that a new or revoked token counts at once.
class TokenFile {
public:
    explicit TokenFile(QString path) : path_(std::move(path)) {}
    // The new token, shown once; an error text in `error` otherwise.
    QByteArray add(const QString& name, QString& error) const;
    bool revoke(const QString& name, QString& error) const;
    QStringList names() const;
    // The name of the token given; none for a wrong one.
    std::optional<QString> holder(const QByteArray& token) const;
    bool accepts(const QByteArray& token) const { return holder(token).has_value(); }

private:
    QHash<QString, QByteArray> read() const;
    std::optional<QString> write(const QHash<QString, QByteArray>& tokens) const;
    QString path_;
};

// Login sessions: the cookie's digest and when it was last used. They last
// until logout or 30 days without use, and are kept in a file so that they
// outlive a restart. They belong to one password, named by the digest of
// its stored line: a new password (or none) ends every session at once,
// in memory and in the file.
class SessionStore {
public:
    static constexpr qint64 kLifetimeSeconds = 30 * 24 * 3600;
    explicit SessionStore(QString path);
    // The password as stored now; sessions of another one end here.
    void passwordIs(const QByteArray& storedLine, qint64 now);
    // A new session's cookie value.
    QByteArray open(qint64 now);
    // Whether the cookie belongs to a live session; marks it used.
    bool use(const QByteArray& cookie, qint64 now);
    void close(const QByteArray& cookie);
    // Writes what changed since the last save (at most hourly for mere use).
    void save(qint64 now, bool force = false);

private:
    QString path_;
    QByteArray password_; // the digest of the stored line; empty for none
    QHash<QByteArray, qint64> lastUsed_;
    bool dirty_ = false;
    qint64 savedAt_ = 0;
};

} // namespace relais::web
