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
    int& count = open_[key];
    if (count >= limit_) {
        return false;
    }
    ++count;
    return true;
}

void ConnectionsPerClient::leave(const QString& key) {
    std::lock_guard lock(mutex_);
    const auto found = open_.find(key);
    if (found != open_.end() && --found.value() <= 0) {
        open_.erase(found);
    }
}

} // namespace relais::web
