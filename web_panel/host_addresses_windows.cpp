// This machine's addresses, from the system's adapter list.

#include "host_addresses.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <iphlpapi.h>

namespace relais::web {

QStringList hostAddresses() {
    QStringList addresses{QStringLiteral("127.0.0.1"), QStringLiteral("::1")};
    ULONG size = 16 * 1024;
    QByteArray buffer(int(size), '\0');
    auto* list = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST, nullptr,
                             list, &size) != NO_ERROR) {
        return addresses;
    }
    for (auto* adapter = list; adapter != nullptr; adapter = adapter->Next) {
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            char text[NI_MAXHOST];
            const SOCKET_ADDRESS& address = unicast->Address;
            if (getnameinfo(address.lpSockaddr, address.iSockaddrLength, text, sizeof text, nullptr,
                            0, NI_NUMERICHOST) == 0) {
                addresses << QString::fromLatin1(text).section(QLatin1Char('%'), 0, 0);
            }
        }
    }
    addresses.removeDuplicates();
    return addresses;
}

} // namespace relais::web
