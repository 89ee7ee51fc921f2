#include "guarded_server.h"

#include "listen_socket.h"

#include <QString>

namespace relais::web {

namespace {
using namespace std::chrono_literals;
constexpr auto kFirstRequestWait = 10s;
constexpr auto kKeepAliveWait = 2s; // idle connections go soon: nothing waits on them at exit
constexpr int kRequestsPerConnection = 100;
thread_local bool tRefusing = false;
thread_local std::function<void()> tFreePlace;

// A request without Content-Length or Transfer-Encoding has no body; the
// parser would otherwise read one until the client closes.
void noBodyWithoutLength(httplib::Request& req) {
    if (!req.has_header("Content-Length") && !req.has_header("Transfer-Encoding")) {
        req.set_header("Content-Length", "0");
    }
}
} // namespace

GuardedServer::GuardedServer(SSL_CTX* tls, std::string refusal)
    : tls_(tls), refusal_(std::move(refusal)) {}

GuardedServer::~GuardedServer() {
    SSL_CTX_free(tls_);
}

void GuardedServer::widenBacklog() {
    relais::web::widenBacklog(int(svr_sock_.load()));
}

void GuardedServer::refuseOnThisThread(bool on) {
    tRefusing = on;
}

void GuardedServer::setFreePlace(std::function<void()> freePlace) {
    tFreePlace = std::move(freePlace);
}

void GuardedServer::freePlace() {
    if (tFreePlace) {
        tFreePlace();
        tFreePlace = nullptr;
    }
}

void GuardedServer::refuse(SocketHandle socket) const {
    // Over TLS nothing can be said before a handshake: the connection just ends.
    if (tls_ == nullptr) {
        sendSome(socket, refusal_.data(), refusal_.size()); // a fresh socket takes it whole
    }
    closeSocket(socket);
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    const auto socket = SocketHandle(sock);
    makeNonBlocking(socket);
    int port = 0;
    const QString client = addressKey(QString::fromStdString(socketAddress(socket, true, port)));
    if (tRefusing || !perClient_.enter(client)) {
        freePlace();
        refuse(socket);
        return true;
    }
    SSL* ssl = nullptr;
    if (tls_ == nullptr || (ssl = handshake(socket)) != nullptr) {
        GuardedStream stream(socket, ssl, limits_);
        stream.makeCurrent(true);
        serve(stream, client);
        stream.makeCurrent(false);
    }
    // Its places are free before the client can see the end: a client that
    // comes straight back is not turned away for its own old connection.
    perClient_.leave(client);
    freePlace();
    if (ssl != nullptr) {
        SSL_shutdown(ssl); // a close_notify if it goes out at once; nothing waits for it
        SSL_free(ssl);
    }
    closeSocket(socket);
    return true;
}

void GuardedServer::serve(GuardedStream& stream, const QString& client) {
    const auto socket = SocketHandle(stream.socket());
    for (int n = 0; n < kRequestsPerConnection && is_running(); ++n) {
        // Waiting, it may be asked to make room for a newer connection of
        // its client (the lock keeps the socket open meanwhile).
        const quint64 ticket = perClient_.idle(client, [socket] { shutdownSocket(socket); });
        const bool asked = stream.awaitRequest(n == 0 ? kFirstRequestWait : kKeepAliveWait);
        perClient_.busy(client, ticket);
        if (!asked) {
            return;
        }
        bool clientCloses = false;
        const bool last = n + 1 == kRequestsPerConnection;
        const bool answered =
            process_request(stream, last, clientCloses, [&stream](httplib::Request& req) {
                // More than one range of a file is the whole file: ranges
                // would let a small request ask for a huge answer.
                if (req.ranges.size() > 1) {
                    req.ranges.clear();
                }
                noBodyWithoutLength(req);
                stream.startBody();
            });
        if (!answered || clientCloses || stream.mustClose()) {
            return;
        }
    }
}

SSL* GuardedServer::handshake(SocketHandle socket) {
    SSL* ssl = SSL_new(tls_);
    if (ssl == nullptr) {
        return nullptr;
    }
    SSL_set_fd(ssl, int(socket));
    const auto until = GuardedStream::Clock::now() + limits_.requestTime;
    for (;;) {
        ERR_clear_error();
        const int done = SSL_accept(ssl);
        if (done == 1) {
            return ssl;
        }
        const int error = SSL_get_error(ssl, done);
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - GuardedStream::Clock::now());
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) || left.count() <= 0 ||
            waitForSocket(socket, error == SSL_ERROR_WANT_WRITE, int(left.count())) !=
                SocketWait::Ready) {
            SSL_free(ssl);
            return nullptr;
        }
    }
}

} // namespace relais::web
