#include "panel_routes.h"

#include "client_address.h"
#include "listen_socket.h"
#include "panel_auth.h"

namespace relais::web {

namespace {

using namespace std::chrono_literals;
constexpr auto kQuietInterval = 15s;

// The session's cookie: for this site only, never to scripts, over TLS
// only where the panel has it.
void setSessionCookie(httplib::Response& res, const std::string& value, qint64 maxAge, bool tls) {
    res.set_header("Set-Cookie", std::string(kCookieName) + '=' + value +
                                     "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
                                     std::to_string(maxAge) + (tls ? "; Secure" : ""));
}
// How often a waiting event stream looks whether its client is still there.
constexpr auto kStreamCheck = 1s;

void routeStatic(Shared& shared, httplib::Server& server) {
    for (const auto& [path, file] : shared.files) {
        server.Get(path, [&shared, path = path](const httplib::Request&, httplib::Response& res) {
            const auto& [type, content] = shared.files.at(path);
            res.set_content(content, type.c_str());
            res.set_header("Cache-Control", "no-cache");
        });
    }
    server.Get("/api/openapi.json", [&shared](const httplib::Request&, httplib::Response& res) {
        res.set_content(shared.openApi, kJson);
        res.set_header("Cache-Control", "no-store");
    });
}

void routeLogin(Shared& shared, httplib::Server& server) {
    server.Post("/login", [&shared](const httplib::Request& req, httplib::Response& res) {
        if (shared.foreignOrigin(req)) {
            return setError(res, 403, QStringLiteral("Anmeldung von fremder Seite abgelehnt."));
        }
        if (mediaType(req) != "application/x-www-form-urlencoded") {
            return setError(res, 415,
                            QStringLiteral("Die Anmeldung kommt als Formular "
                                           "(application/x-www-form-urlencoded)."));
        }
        const QByteArray stored = shared.storedPassword();
        if (stored.isEmpty()) {
            return setError(res, 409, QStringLiteral("Es ist kein Passwort gesetzt."));
        }
        const QString client = addressKey(QString::fromStdString(req.remote_addr));
        switch (checkPassword(shared, client, stored, formPassword(req), res)) {
        case 429:
            return setError(res, 429,
                            res.has_header("Retry-After")
                                ? QStringLiteral("Zu viele falsche Anmeldungen insgesamt: "
                                                 "Passwörter werden nur alle 2 s geprüft.")
                                : Shared::lockedText());
        case 401:
            return setError(res, 401, QStringLiteral("Falsches Passwort."));
        default:
            break;
        }
        QByteArray cookie;
        {
            std::lock_guard lock(shared.authMutex);
            cookie = shared.sessions->open(wallSeconds());
        }
        res.status = 204;
        setSessionCookie(res, cookie.toStdString(), SessionStore::kLifetimeSeconds, shared.tls);
    });
    server.Post("/logout", [&shared](const httplib::Request& req, httplib::Response& res) {
        if (shared.foreignOrigin(req)) {
            return setError(res, 403, QStringLiteral("Abmeldung von fremder Seite abgelehnt."));
        }
        const std::string cookie = cookieValue(req, kCookieName);
        if (!cookie.empty()) {
            std::lock_guard lock(shared.authMutex);
            shared.sessions->close(QByteArray::fromStdString(cookie));
        }
        res.status = 204;
        setSessionCookie(res, {}, 0, shared.tls); // gone at once
    });
}

void routeEvents(Shared& shared, httplib::Server& server) {
    server.Get("/api/events", [&shared](const httplib::Request& req, httplib::Response& res) {
        if (Shared::refuse(shared.identify(req), res)) {
            return;
        }
        if (shared.streams.fetch_add(1) >= kMaxStreams) {
            --shared.streams;
            return setError(res, 503, QStringLiteral("Zu viele Ereignisströme."));
        }
        res.set_header("Cache-Control", "no-store");
        res.set_chunked_content_provider(
            "text/event-stream",
            [&shared, sent = quint64(0), quiet = std::chrono::steady_clock::duration()](
                size_t, httplib::DataSink& sink) mutable {
                if (!sink.is_writable()) {
                    return false; // the client has gone: its place is free at once
                }
                std::unique_lock lock(shared.stateMutex);
                if (sent != 0 && !shared.closing && shared.revision == sent) {
                    // Short waits: the server looks between them whether the
                    // client is still there, and frees its place if not.
                    shared.stateChanged.wait_for(lock, kStreamCheck, [&] {
                        return shared.closing || shared.revision != sent;
                    });
                }
                if (shared.closing) {
                    lock.unlock();
                    sink.done();
                    return true;
                }
                std::string text;
                if (shared.revision != sent) {
                    sent = shared.revision;
                    quiet = {};
                    text = "event: state\nid: " + std::to_string(sent) +
                           "\ndata: " + shared.stateJson + "\n\n";
                } else if ((quiet += kStreamCheck) >= kQuietInterval) {
                    quiet = {};
                    text = ": ruhig\n\n";
                } else {
                    return true;
                }
                lock.unlock();
                return sink.write(text.data(), text.size());
            },
            [&shared](bool) { --shared.streams; });
    });
}

void routeApi(Shared& shared, httplib::Server& server) {
    const auto handler = [&shared](const httplib::Request& req, httplib::Response& res) {
        QString who;
        const Shared::Caller caller = shared.identify(req, &who);
        if (Shared::refuse(caller, res)) {
            return;
        }
        if (caller == Shared::Caller::Session) {
            res.set_header("X-Relaiskarte-Session", "ja"); // the page offers "Abmelden"
        }
        const bool change = req.method != "GET" && req.method != "HEAD" && req.method != "OPTIONS";
        if (change) {
            if (shared.foreignOrigin(req) ||
                (caller == Shared::Caller::Session && req.get_header_value("Origin").empty())) {
                return setError(res, 403, QStringLiteral("Änderung von fremder Seite abgelehnt."));
            }
            if (mediaType(req) != "application/json") {
                return setError(res, 415,
                                QStringLiteral("Änderungen kommen als JSON "
                                               "(Content-Type: application/json)."));
            }
        }
        if (req.method == "GET" && req.path == "/api/state") {
            // Kept current by every change: no need to ask the relays' thread.
            std::lock_guard lock(shared.stateMutex);
            return setReply(res, ApiReply{200, QByteArray::fromStdString(shared.stateJson), {}});
        }
        if (req.method == "GET" && req.path == "/api/ports") {
            // From the list kept fresh off the relays' thread.
            return setReply(res, ApiReply{200, PanelApi::portsJson(shared.ports->devices()), {}});
        }
        ApiRequest request{QByteArray::fromStdString(req.method),
                           QString::fromUtf8(QByteArray::fromStdString(req.path)),
                           QByteArray::fromStdString(req.body), who};
        setReply(res,
                 shared.onPanelThread([request](PanelApi& api) { return api.handle(request); }));
    };
    const std::string pattern = "/api/.*";
    server.Get(pattern, handler);
    server.Post(pattern, handler);
    server.Put(pattern, handler);
    server.Delete(pattern, handler);
    server.Patch(pattern, handler);
    server.Options(pattern, handler);
}

// Framing that two readers could take two ways, or a body this panel never
// takes: refused before the body is read, and the connection closed.
std::optional<int> refusedFraming(const httplib::Request& req) {
    const size_t lengths = req.get_header_value_count("Content-Length");
    for (size_t i = 1; i < lengths; ++i) {
        if (req.get_header_value("Content-Length", i) != req.get_header_value("Content-Length")) {
            return 400;
        }
    }
    if (req.has_header("Transfer-Encoding")) {
        std::string coding = req.get_header_value("Transfer-Encoding");
        for (char& c : coding) {
            c = char(std::tolower(static_cast<unsigned char>(c)));
        }
        if (lengths > 0 || req.get_header_value_count("Transfer-Encoding") > 1 ||
            coding != "chunked") {
            return 400;
        }
    }
    const std::string encoding = req.get_header_value("Content-Encoding");
    if (!encoding.empty() && encoding != "identity") {
        return 415;
    }
    if (lengths > 0) {
        const std::string& length = req.get_header_value("Content-Length");
        if (length.empty() || length.size() > 9 ||
            length.find_first_not_of("0123456789") != std::string::npos) {
            return 400;
        }
        if (std::stoul(length) > kMaxBodyBytes) {
            return 413;
        }
    }
    return std::nullopt;
}

// The status for a request the guarded stream cut short.
int cutShortStatus(int status) {
    const GuardedStream* stream = GuardedStream::current();
    if (status == 400 && stream != nullptr) {
        if (stream->bodyTooLarge()) {
            return 413;
        }
        if (stream->headTooLarge()) {
            return 431;
        }
    }
    return status;
}

void closeAfterReply(httplib::Response& res) {
    res.set_header("Connection", "close");
    if (GuardedStream* stream = GuardedStream::current()) {
        stream->closeAfterReply();
    }
}

httplib::Server::HandlerResponse preRouting(Shared& shared, const httplib::Request& req,
                                            httplib::Response& res) {
    bool closing = false;
    {
        std::lock_guard lock(shared.stateMutex);
        closing = shared.closing;
    }
    // Ending: answered at once, touching nothing else (a client still here
    // at the program's end may be served after it).
    if (closing) {
        closeAfterReply(res);
        setError(res, 503, QStringLiteral("Das Programm endet gerade."));
        return httplib::Server::HandlerResponse::Handled;
    }
    size_t headerBytes = req.method.size() + req.target.size();
    for (const auto& [name, value] : req.headers) {
        headerBytes += name.size() + value.size() + 4;
    }
    const std::optional<int> framing =
        headerBytes > kMaxHeaderBytes + 128 ? 431 : refusedFraming(req); // (the server's own few)
    if (framing) {
        closeAfterReply(res);
        setError(res, *framing, errorText(*framing));
        return httplib::Server::HandlerResponse::Handled;
    }
    if (!shared.passwordRequired && shared.storedPassword().isEmpty() &&
        !hostIsLoopback(req.get_header_value("Host"))) {
        setError(res, 403, QStringLiteral("Ohne Passwort nur über 127.0.0.1 oder ::1."));
        return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
}

} // namespace

void configurePanel(Shared& shared, httplib::Server& server) {
    server.set_default_headers(securityHeaders());
    server.set_socket_options([](socket_t socket) { setListenOptions(int(socket)); });
    server.set_tcp_nodelay(true); // an answer's head and body go out at once, not 40 ms apart
    server.set_payload_max_length(kMaxBodyBytes);
    server.set_pre_routing_handler([&shared](const httplib::Request& req, httplib::Response& res) {
        return preRouting(shared, req, res);
    });
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            res.status = cutShortStatus(res.status);
            if (res.status == 413 || res.status == 414 || res.status == 431) {
                closeAfterReply(res);
            }
            setError(res, res.status, errorText(res.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    server.set_exception_handler([](const httplib::Request&, httplib::Response& res,
                                    std::exception_ptr) { setError(res, 500, errorText(500)); });
    routeStatic(shared, server);
    routeLogin(shared, server);
    routeEvents(shared, server);
    routeApi(shared, server);
}

} // namespace relais::web
