#include "listen_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace relais::web {

void setListenOptions(int socket) {
    const BOOL yes = TRUE, no = FALSE;
    // Nobody else may bind the port while the panel has it.
    setsockopt(SOCKET(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes),
               sizeof yes);
    setsockopt(SOCKET(socket), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&no),
               sizeof no);
}

void widenBacklog(int socket) {
    ::listen(SOCKET(socket), SOMAXCONN);
}

} // namespace relais::web
