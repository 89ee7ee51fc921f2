#include "client_address.h"

#include <QHostAddress>

namespace relais::web {

QString addressKey(const QString& address) {
    QHostAddress host(address);
    if (host.isNull()) {
        return address;
    }
    bool mapped = false;
    const quint32 v4 = host.toIPv4Address(&mapped);
    if (mapped) {
        return QHostAddress(v4).toString();
    }
    Q_IPV6ADDR bytes = host.toIPv6Address();
    std::fill(bytes.c + 8, bytes.c + 16, 0);
    return QHostAddress(bytes).toString() + QStringLiteral("/64");
}

bool ConnectionsPerClient::enter(const QString& key) {
    std::lock_guard lock(mutex_);
    Client& client = clients_[key];
    if (client.open >= limit_) {
        if (client.idle.empty()) {
            return false;
        }
        client.idle.front().wake();
        client.idle.pop_front();
    }
    ++client.open;
    return true;
}

void ConnectionsPerClient::leave(const QString& key) {
    std::lock_guard lock(mutex_);
    const auto found = clients_.find(key);
    if (found != clients_.end() && --found->open <= 0 && found->idle.empty()) {
        clients_.erase(found);
    }
}

quint64 ConnectionsPerClient::idle(const QString& key, Wake wake) {
    std::lock_guard lock(mutex_);
    const quint64 ticket = ++nextTicket_;
    clients_[key].idle.push_back(Idle{ticket, std::move(wake)});
    return ticket;
}

void ConnectionsPerClient::busy(const QString& key, quint64 ticket) {
    std::lock_guard lock(mutex_);
    const auto found = clients_.find(key);
    if (found != clients_.end()) {
        found->idle.remove_if([ticket](const Idle& idle) { return idle.ticket == ticket; });
    }
}

} // namespace relais::web
