#include "login_throttle.h"

namespace relais::web {

bool LoginThrottle::allows(const QString& address, qint64 now) {
    forgetOld(now);
    return !lockedUntil_.contains(address);
}

bool LoginThrottle::failed(const QString& address, qint64 now) {
    forgetOld(now);
    if (lockedUntil_.contains(address)) {
        return false;
    }
    QList<qint64>& times = failures_[address];
    times.append(now);
    if (times.size() < kAttempts) {
        return false;
    }
    failures_.remove(address);
    lockedUntil_.insert(address, now + kLockSeconds);
    return true;
}

void LoginThrottle::forgetOld(qint64 now) {
    for (auto it = lockedUntil_.begin(); it != lockedUntil_.end();) {
        it = now >= it.value() ? lockedUntil_.erase(it) : std::next(it);
    }
    // Bounded memory whatever a crowd of addresses tries.
    for (auto it = failures_.begin(); it != failures_.end();) {
        QList<qint64>& times = it.value();
        times.removeIf([now](qint64 t) { return now - t >= kWindowSeconds; });
        it = times.isEmpty() ? failures_.erase(it) : std::next(it);
    }
}

} // namespace relais::web
