#include "client_socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace relais::web {

void makeNonBlocking(SocketHandle socket) {
    const int fd = int(socket);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

SocketWait waitForSocket(SocketHandle socket, bool forWriting, int ms) {
    pollfd entry{int(socket), short(forWriting ? POLLOUT : POLLIN), 0};
    int ready = 0;
    do {
        ready = poll(&entry, 1, ms);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) {
        return SocketWait::Failed;
    }
    return ready == 0 ? SocketWait::TimedOut : SocketWait::Ready;
}

static long outcome(long done) {
    if (done >= 0) {
        return done;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? -1 : -2;
}

long receiveSome(SocketHandle socket, char* buffer, std::size_t size) {
    return outcome(recv(int(socket), buffer, size, 0));
}

long sendSome(SocketHandle socket, const char* data, std::size_t size) {
    return outcome(send(int(socket), data, size, MSG_NOSIGNAL));
}

bool peerHasLeft(SocketHandle socket) {
    pollfd entry{int(socket), POLLIN, 0};
    if (poll(&entry, 1, 0) <= 0) {
        return false;
    }
    if ((entry.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return true;
    }
    char byte;
    const long peeked = recv(int(socket), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

std::string socketAddress(SocketHandle socket, bool peer, int& port) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    auto* raw = reinterpret_cast<sockaddr*>(&address);
    if ((peer ? getpeername(int(socket), raw, &length) : getsockname(int(socket), raw, &length)) !=
        0) {
        return {};
    }
    char host[NI_MAXHOST] = {};
    char service[NI_MAXSERV] = {};
    if (getnameinfo(raw, length, host, sizeof host, service, sizeof service,
                    NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return {};
    }
    port = atoi(service);
    return host;
}

void shutdownSocket(SocketHandle socket) {
    shutdown(int(socket), SHUT_RDWR);
}

void closeSocket(SocketHandle socket) {
    shutdown(int(socket), SHUT_RDWR);
    close(int(socket));
}

} // namespace relais::web
