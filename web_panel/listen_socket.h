#pragma once

namespace relais::web {

// The panel's listening socket belongs to this program alone: a second
// program, or another process of the same user, cannot bind the port too
// and take a share of the connections. IPv6 sockets also take IPv4.
void setListenOptions(int socket);

} // namespace relais::web
