#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <list>
#include <mutex>

namespace relais::web {

// Whom a limit counts: an IPv4 address (also when it comes IPv4-mapped),
// or an IPv6 address's /64, since one holder of a /64 has plenty of
// addresses to rotate through.
QString addressKey(const QString& address);

// The connections open per client, at most `limit` each; thread-safe. A
// browser keeps idle connections open for later: when its limit is
// reached, the longest idle of them is asked to leave for the new one.
class ConnectionsPerClient {
public:
    using Wake = std::function<void()>;
    explicit ConnectionsPerClient(int limit) : limit_(limit) {}
    // False, counting nothing, when `key` has its limit open and none idle.
    bool enter(const QString& key);
    void leave(const QString& key);
    // A connection waits for its next request: until `busy`, `wake` may be
    // called (under the lock) to make it leave.
    quint64 idle(const QString& key, Wake wake);
    void busy(const QString& key, quint64 ticket);

private:
    struct Idle {
        quint64 ticket;
        Wake wake;
    };
    struct Client {
        int open = 0;
        std::list<Idle> idle; // longest idle first
    };
    std::mutex mutex_;
    QHash<QString, Client> clients_;
    quint64 nextTicket_ = 0;
    int limit_;
};

} // namespace relais::web
