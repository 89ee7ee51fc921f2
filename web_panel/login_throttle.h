#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace relais::web {

// Wrong passwords per address: the fifth within ten minutes locks the
// address out for ten minutes. Times are seconds on any steady clock.
class LoginThrottle {
public:
    static constexpr int kAttempts = 5;
    static constexpr qint64 kWindowSeconds = 600;
    static constexpr qint64 kLockSeconds = 600;

    // Whether `address` may try now.
    bool allows(const QString& address, qint64 now);
    // A wrong password; true when this one locked the address out (to be
    // logged once).
    bool failed(const QString& address, qint64 now);
    void succeeded(const QString& address) { failures_.remove(address); }

private:
    void forgetOld(qint64 now);
    QHash<QString, QList<qint64>> failures_;
    QHash<QString, qint64> lockedUntil_;
};

} // namespace relais::web
