#pragma once

#include "client_address.h"
#include "guarded_stream.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <QString>

#include <functional>
#include <string>

namespace relais::web {

// cpp-httplib's server with every connection read through a GuardedStream:
// bounded while it is read, at most a few connections per client (more are
// answered 503 unread), TLS where a context is given.
class GuardedServer : public httplib::Server {
public:
    static constexpr int kConnectionsPerClient = 8;
    // `tls` may be null (plain HTTP); the server takes it over.
    // `refusal`: the whole answer to a connection refused unread.
    GuardedServer(SSL_CTX* tls, std::string refusal);
    ~GuardedServer() override;
    // Refuse the connections handed over from this thread unread (the
    // server has no thread left for them).
    static void refuseOnThisThread(bool on);
    // What frees the place this thread's connection holds among all of the
    // server's (none: nothing to free). Called before the connection ends,
    // so that a client that sees the end finds its place free again.
    static void setFreePlace(std::function<void()> freePlace);
    // Once bound: a burst of connections waits in the system's queue.
    void widenBacklog();

private:
    bool process_and_close_socket(socket_t sock) override;
    void serve(GuardedStream& stream, const QString& client);
    SSL* handshake(SocketHandle socket);
    void refuse(SocketHandle socket) const;
    static void freePlace();

    SSL_CTX* tls_;
    std::string refusal_;
    RequestLimits limits_;
    ConnectionsPerClient perClient_{kConnectionsPerClient};
};

} // namespace relais::web
