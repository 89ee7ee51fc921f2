// This machine's addresses, from the system's interface list.

#include "host_addresses.h"

#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace relais::web {

QStringList hostAddresses() {
    QStringList addresses;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return {QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
    }
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) {
            continue;
        }
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) {
            continue;
        }
        char text[NI_MAXHOST];
        const socklen_t size = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        if (getnameinfo(entry->ifa_addr, size, text, sizeof text, nullptr, 0, NI_NUMERICHOST) ==
            0) {
            QString address = QString::fromLatin1(text);
            address = address.section(QLatin1Char('%'), 0, 0); // no zone for a certificate
            addresses << address;
        }
    }
    freeifaddrs(list);
    addresses.removeDuplicates();
    return addresses;
}

} // namespace relais::web
