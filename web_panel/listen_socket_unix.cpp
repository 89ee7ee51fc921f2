#include "listen_socket.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace relais::web {

void setListenOptions(int socket) {
    const int yes = 1, no = 0;
    // A restart may rebind at once over connections still closing; unlike
    // SO_REUSEPORT this never lets a second listener in.
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no); // fails harmlessly on IPv4
}

void widenBacklog(int socket) {
    ::listen(socket, SOMAXCONN); // (again: the system takes the larger queue)
}

} // namespace relais::web
