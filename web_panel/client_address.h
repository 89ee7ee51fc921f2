#pragma once

#include <QHash>
#include <QString>

#include <mutex>

namespace relais::web {

// Whom a limit counts: an IPv4 address (also when it comes IPv4-mapped),
// or an IPv6 address's /64, since one holder of a /64 has plenty of
// addresses to rotate through.
QString addressKey(const QString& address);

// The connections open per client, at most `limit` each; thread-safe.
class ConnectionsPerClient {
public:
    explicit ConnectionsPerClient(int limit) : limit_(limit) {}
    // False, counting nothing, when `key` already has its limit open.
    bool enter(const QString& key);
    void leave(const QString& key);

private:
    std::mutex mutex_;
    QHash<QString, int> open_;
    int limit_;
};

} // namespace relais::web
