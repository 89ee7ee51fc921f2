#pragma once

#include <QHash>
#include <QString>

#include <deque>
#include <list>

namespace relais::web {

// Guessing, bounded: every attempt is counted before its secret is
// checked, so a client (an address, an IPv6 /64) has at most five wrong
// ones checked within ten minutes, however many it sends at once; the
// fifth locks it out for ten minutes. Beyond single clients: after twenty
// wrong passwords from anywhere within ten minutes, password checks are
// spaced two seconds apart for everyone until the count falls. The cost of
// a call does not grow with the clients remembered, and at most
// `kClients` are (the longest quiet forgotten first). Times are
// milliseconds on a steady clock.
class LoginThrottle {
public:
    static constexpr int kAttempts = 5;
    static constexpr qint64 kWindowMs = 600'000;
    static constexpr qint64 kLockMs = 600'000;
    static constexpr int kCrowdAttempts = 20;
    static constexpr qint64 kCrowdSpacingMs = 2000;
    static constexpr int kClients = 10'000;

    enum class Verdict { Check, Locked, Wait };
    // A secret from `client` is about to be checked; a password also
    // counts towards the crowd. Counted as wrong until `succeeded`.
    Verdict attempt(const QString& client, qint64 now, bool password);
    // The secret was right: the attempt no longer counts.
    void succeeded(const QString& client);
    // The secret was wrong; true when this locked the client out (to be
    // said once).
    bool failed(const QString& client, qint64 now, bool password);
    // How long a caller told to wait should wait.
    qint64 waitMs(qint64 now) const;
    int clientsRemembered() const { return int(clients_.size()); }

private:
    struct Client {
        int attempts = 0;
        qint64 firstAt = 0;
        qint64 lockedUntil = 0;
        qint64 lastAt = 0;
        bool lockSaid = false;
        std::list<QString>::iterator place;
    };
    Client& touch(const QString& client, qint64 now);
    void forgetQuiet(qint64 now);
    bool crowded(qint64 now);

    QHash<QString, Client> clients_;
    std::list<QString> quietFirst_; // least recently seen first
    std::deque<qint64> wrongPasswords_;
    qint64 nextCheckAt_ = 0;
};

} // namespace relais::web
