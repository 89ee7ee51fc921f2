#pragma once

namespace relais::web {

// The panel's listening socket belongs to this program alone: a second
// program, or another process of the same user, cannot bind the port too
// and take a share of the connections. IPv6 sockets also take IPv4.
void setListenOptions(int socket);
// A listening socket takes a burst of new connections into the system's
// queue instead of dropping them for the client to try again a second later.
void widenBacklog(int socket);

} // namespace relais::web
