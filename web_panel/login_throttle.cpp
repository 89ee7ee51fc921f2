#include "login_throttle.h"

#include <algorithm>

namespace relais::web {

LoginThrottle::Client& LoginThrottle::touch(const QString& client, qint64 now) {
    forgetQuiet(now);
    auto found = clients_.find(client);
    if (found == clients_.end()) {
        if (int(clients_.size()) >= kClients) {
            clients_.remove(quietFirst_.front());
            quietFirst_.pop_front();
        }
        found = clients_.insert(client, Client{});
        found->place = quietFirst_.insert(quietFirst_.end(), client);
    } else {
        quietFirst_.splice(quietFirst_.end(), quietFirst_, found->place);
    }
    found->lastAt = now;
    return *found;
}

// Clients quiet for longer than any window or lock have nothing to keep;
// the list is in order of quiet, so this stops at the first still kept.
void LoginThrottle::forgetQuiet(qint64 now) {
    const qint64 keep = std::max(kWindowMs, kLockMs);
    while (!quietFirst_.empty()) {
        const auto found = clients_.constFind(quietFirst_.front());
        if (found != clients_.cend() && now - found->lastAt < keep) {
            break;
        }
        clients_.remove(quietFirst_.front());
        quietFirst_.pop_front();
    }
}

bool LoginThrottle::crowded(qint64 now) {
    while (!wrongPasswords_.empty() && now - wrongPasswords_.front() >= kWindowMs) {
        wrongPasswords_.pop_front();
    }
    return int(wrongPasswords_.size()) >= kCrowdAttempts;
}

LoginThrottle::Verdict LoginThrottle::attempt(const QString& client, qint64 now, bool password) {
    Client& entry = touch(client, now);
    if (now < entry.lockedUntil) {
        return Verdict::Locked;
    }
    if (entry.attempts > 0 && now - entry.firstAt >= kWindowMs) {
        entry.attempts = 0;
    }
    if (password && crowded(now)) {
        if (now < nextCheckAt_) {
            return Verdict::Wait;
        }
        nextCheckAt_ = now + kCrowdSpacingMs;
    }
    if (entry.attempts == 0) {
        entry.firstAt = now;
    }
    if (++entry.attempts >= kAttempts) {
        if (entry.lockedUntil <= now) {
            entry.lockSaid = false;
        }
        entry.lockedUntil = now + kLockMs; // lifted at once should this one be right
    }
    return Verdict::Check;
}

void LoginThrottle::succeeded(const QString& client) {
    const auto found = clients_.find(client);
    if (found != clients_.end()) {
        found->attempts = 0;
        found->lockedUntil = 0;
    }
}

bool LoginThrottle::failed(const QString& client, qint64 now, bool password) {
    if (password) {
        wrongPasswords_.push_back(now);
        crowded(now);
    }
    const auto found = clients_.find(client);
    if (found == clients_.end() || found->attempts < kAttempts || found->lockSaid) {
        return false;
    }
    found->lockSaid = true;
    return true;
}

qint64 LoginThrottle::waitMs(qint64 now) const {
    return std::max<qint64>(nextCheckAt_ - now, 0);
}

} // namespace relais::web
