#include "client_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>

namespace relais::web {

void makeNonBlocking(SocketHandle socket) {
    u_long yes = 1;
    ioctlsocket(SOCKET(socket), FIONBIO, &yes);
}

SocketWait waitForSocket(SocketHandle socket, bool forWriting, int ms) {
    WSAPOLLFD entry{SOCKET(socket), short(forWriting ? POLLOUT : POLLRDNORM), 0};
    const int ready = WSAPoll(&entry, 1, ms);
    if (ready < 0) {
        return SocketWait::Failed;
    }
    return ready == 0 ? SocketWait::TimedOut : SocketWait::Ready;
}

static long outcome(int done) {
    if (done >= 0) {
        return done;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? -1 : -2;
}

long receiveSome(SocketHandle socket, char* buffer, std::size_t size) {
    return outcome(recv(SOCKET(socket), buffer, int(size), 0));
}

long sendSome(SocketHandle socket, const char* data, std::size_t size) {
    return outcome(send(SOCKET(socket), data, int(size), 0));
}

bool peerHasLeft(SocketHandle socket) {
    WSAPOLLFD entry{SOCKET(socket), POLLRDNORM, 0};
    if (WSAPoll(&entry, 1, 0) <= 0) {
        return false;
    }
    if ((entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return true;
    }
    char byte;
    const int peeked = recv(SOCKET(socket), &byte, 1, MSG_PEEK);
    return peeked == 0 || (peeked < 0 && WSAGetLastError() != WSAEWOULDBLOCK);
}

std::string socketAddress(SocketHandle socket, bool peer, int& port) {
    sockaddr_storage address{};
    int length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? getpeername(SOCKET(socket), raw, &length)
              : getsockname(SOCKET(socket), raw, &length)) != 0) {
        return {};
    }
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(raw, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return {};
    }
    port = std::atoi(service);
    return host;
}

void shutdownSocket(SocketHandle socket) {
    shutdown(SOCKET(socket), SD_BOTH);
}

void closeSocket(SocketHandle socket) {
    shutdown(SOCKET(socket), SD_BOTH);
    closesocket(SOCKET(socket));
}

} // namespace relais::web
