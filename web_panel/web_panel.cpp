#include "web_panel.h"

#include "certificate.h"
#include "client_address.h"
#include "guarded_server.h"
#include "listen_socket.h"
#include "login_store.h"
#include "login_throttle.h"
#include "port_directory.h"
#include "tls_context.h"

#include <httplib.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <openssl/ssl.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>

// The page, compiled in; linked statically (Windows) its resources need asking for.
static void loadPage() {
    Q_INIT_RESOURCE(web_page);
}

namespace relais::web {

namespace {

using namespace std::chrono_literals;

constexpr int kMaxConnections = 64;
constexpr int kMaxStreams = 32;
constexpr size_t kMaxHeaderBytes = 8192;
constexpr size_t kMaxBodyBytes = 4096;
constexpr auto kQuietInterval = 15s;
// How often a waiting event stream looks whether its client is still there.
constexpr auto kStreamCheck = 1s;
constexpr char kCookieName[] = "relaiskarte_session";
constexpr char kJson[] = "application/json; charset=utf-8";

// One thread per connection up to 64; the connections beyond are answered
// 503 at once, unread, on the accepting thread: nothing queues. At shutdown, threads still held by
// a client after the deadline are left to end by themselves: they keep what they use alive
// (`keep`), so the program never waits on a slow client.
class ConnectionThreads : public httplib::TaskQueue {
public:
    using Clock = std::chrono::steady_clock;
    // `leaveBy`: until when shutdown waits for clients, kept alive by `keep`.
    ConnectionThreads(std::shared_ptr<void> keep, const std::atomic<Clock::rep>& leaveBy)
        : state_(std::make_shared<State>()), keep_(std::move(keep)), leaveBy_(leaveBy) {}

    void enqueue(std::function<void()> job) override {
        {
            std::lock_guard lock(state_->mutex);
            if (state_->busy < kMaxConnections) {
                ++state_->busy;
                state_->jobs.push_back(std::move(job));
                if (state_->idle == 0) {
                    ++state_->running;
                    state_->threads.emplace_back(run, state_, keep_);
                }
                state_->wake.notify_one();
                return;
            }
        }
        GuardedServer::refuseOnThisThread(true);
        job();
        GuardedServer::refuseOnThisThread(false);
    }

    void shutdown() override {
        std::unique_lock lock(state_->mutex);
        state_->stopping = true;
        state_->wake.notify_all();
        const auto deadline = Clock::time_point(Clock::duration(leaveBy_.load()));
        const bool ended =
            state_->ended.wait_until(lock, deadline, [this] { return state_->running == 0; });
        for (std::thread& thread : state_->threads) {
            ended ? thread.join() : thread.detach();
        }
        state_->threads.clear();
        if (!ended) {
            // What the threads left behind use is never freed: freeing it on
            // their way out could meet the program's own end.
            new std::shared_ptr<void>(keep_);
        }
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable ended;
        std::deque<std::function<void()>> jobs;
        std::vector<std::thread> threads;
        int idle = 0;
        int busy = 0;
        int running = 0;
        bool stopping = false;
    };

    static void run(std::shared_ptr<State> state, std::shared_ptr<void> keep) {
        std::unique_lock lock(state->mutex);
        for (;;) {
            ++state->idle;
            state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
            --state->idle;
            if (state->jobs.empty()) {
                break;
            }
            std::function<void()> job = std::move(state->jobs.front());
            state->jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            --state->busy;
        }
        --state->running;
        state->ended.notify_all();
        lock.unlock();
        keep.reset();
    }

    std::shared_ptr<State> state_;
    std::shared_ptr<void> keep_;
    const std::atomic<Clock::rep>& leaveBy_;
};

qint64 steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

qint64 wallSeconds() {
    return QDateTime::currentSecsSinceEpoch();
}

std::string toStd(const QByteArray& bytes) {
    return bytes.toStdString();
}

void setReply(httplib::Response& res, const ApiReply& reply) {
    res.status = reply.status;
    res.set_content(toStd(reply.body), kJson);
    res.set_header("Cache-Control", "no-store"); // answers under a session stay out of caches
    if (!reply.allow.isEmpty()) {
        res.set_header("Allow", toStd(reply.allow));
    }
}

void setError(httplib::Response& res, int status, const QString& text) {
    setReply(res, apiError(status, text));
}

// The media type alone, without parameters, in lower case.
std::string mediaType(const httplib::Request& req) {
    std::string type = req.get_header_value("Content-Type");
    type = type.substr(0, type.find(';'));
    while (!type.empty() && type.back() == ' ') {
        type.pop_back();
    }
    for (char& c : type) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return type;
}

// The value of one cookie in the Cookie header, empty if absent.
std::string cookieValue(const httplib::Request& req, const std::string& name) {
    const std::string header = req.get_header_value("Cookie");
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) {
            end = header.size();
        }
        std::string pair = header.substr(at, end - at);
        const size_t first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        if (pair.compare(0, name.size() + 1, name + '=') == 0) {
            return pair.substr(name.size() + 1);
        }
        at = end + 1;
    }
    return {};
}

// Whether the Host header names this machine's loopback: without a
// password, nothing else is served, so that a foreign name bound to
// 127.0.0.1 (DNS rebinding) reaches nothing.
bool hostIsLoopback(const std::string& host) {
    std::string name = host;
    if (!name.empty() && name.front() == '[') {
        name = name.substr(1, name.find(']') - 1);
    } else {
        name = name.substr(0, name.rfind(':'));
    }
    return isLoopback(QString::fromStdString(name));
}

QByteArray readResource(const QString& name) {
    QFile file(QStringLiteral(":/web/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// What the server's threads and the panel share.
struct Shared {
    PanelOptions options;
    bool tls = false;
    // Decided at start from where the panel listens: beyond loopback a
    // password is needed, and a lost password file never opens the panel.
    bool passwordRequired = false;
    std::map<std::string, std::pair<std::string, std::string>> files; // path: type, content
    std::string openApi;

    std::mutex stateMutex;
    std::condition_variable stateChanged;
    quint64 revision = 0;
    std::string stateJson;
    bool closing = false;
    std::atomic<int> streams{0};

    std::mutex authMutex;
    LoginThrottle throttle;
    std::unique_ptr<SessionStore> sessions;
    bool passwordLost = false; // said once until the file is back
    std::mutex passwordMutex;  // one password check at a time: 32 MiB each
    std::shared_ptr<PortDirectory> ports;

    // The panel on its own thread; null once it is gone.
    std::mutex contextMutex;
    QObject* context = nullptr;
    PanelApi* api = nullptr;
    QTextStream* log = nullptr;

    std::unique_ptr<GuardedServer> server;
    std::atomic<ConnectionThreads::Clock::rep> leaveBy{
        ConnectionThreads::Clock::time_point::max().time_since_epoch().count()};

    // The stored password line as it is now; empty when there is none or it
    // cannot be read. Read afresh each time, so that a new password ends the
    // sessions of the old one at once.
    QByteArray storedPassword() {
        QFile file(options.passwordFile);
        QByteArray line = file.open(QIODevice::ReadOnly) ? file.read(4096).trimmed() : QByteArray();
        std::lock_guard lock(authMutex);
        sessions->passwordIs(line, wallSeconds());
        if (passwordRequired && line.isEmpty() != passwordLost) {
            passwordLost = line.isEmpty();
            if (passwordLost) {
                say(QStringLiteral("Passwortdatei %1 fehlt oder ist nicht lesbar: keine Anmeldung "
                                   "möglich, nur noch Tokens gelten.")
                        .arg(options.passwordFile));
            }
        }
        return line;
    }
    std::string ownOrigin(const httplib::Request& req) const {
        return (tls ? "https://" : "http://") + req.get_header_value("Host");
    }
    bool foreignOrigin(const httplib::Request& req) const {
        const std::string origin = req.get_header_value("Origin");
        return !origin.empty() && origin != ownOrigin(req);
    }

    // Runs `call` on the panel's thread and waits for its answer; 503 when
    // the program is ending.
    ApiReply onPanelThread(std::function<ApiReply(PanelApi&)> call) {
        auto promise = std::make_shared<std::promise<ApiReply>>();
        std::future<ApiReply> answer = promise->get_future();
        {
            std::lock_guard lock(contextMutex);
            if (context == nullptr) {
                return apiError(503, QStringLiteral("Das Programm endet gerade."));
            }
            QMetaObject::invokeMethod(
                context, [promise, call, api = api] { promise->set_value(call(*api)); },
                Qt::QueuedConnection);
        }
        while (answer.wait_for(50ms) != std::future_status::ready) {
            std::lock_guard lock(stateMutex);
            if (closing) {
                return apiError(503, QStringLiteral("Das Programm endet gerade."));
            }
        }
        try {
            return answer.get();
        } catch (const std::future_error&) {
            return apiError(503, QStringLiteral("Das Programm endet gerade."));
        }
    }

    void say(const QString& line) {
        std::lock_guard lock(contextMutex);
        if (context != nullptr) {
            QMetaObject::invokeMethod(
                context,
                [log = log, line] { *log << QStringLiteral("Web-Panel: ") << line << Qt::endl; },
                Qt::QueuedConnection);
        }
    }

    enum class Caller { Refused, Locked, Session, Token, Anyone };

    // Who asks: a session's cookie, a bearer token, or anyone where no
    // password is set on a loopback-only panel (then only on loopback). A
    // wrong token counts as a wrong password.
    Caller identify(const httplib::Request& req) {
        const QByteArray password = storedPassword();
        if (password.isEmpty() && !passwordRequired) {
            return Caller::Anyone;
        }
        const QString client = addressKey(QString::fromStdString(req.remote_addr));
        const std::string authorization = req.get_header_value("Authorization");
        if (authorization.rfind("Bearer ", 0) == 0) {
            {
                std::lock_guard lock(authMutex);
                if (throttle.attempt(client, steadyMs(), false) != LoginThrottle::Verdict::Check) {
                    return Caller::Locked;
                }
            }
            if (TokenFile(tokensFile(options))
                    .accepts(QByteArray::fromStdString(authorization.substr(7)))) {
                std::lock_guard lock(authMutex);
                throttle.succeeded(client);
                return Caller::Token;
            }
            wrongSecret(client, false);
            return Caller::Refused;
        }
        const std::string cookie = cookieValue(req, kCookieName);
        if (!cookie.empty()) {
            std::lock_guard lock(authMutex);
            if (sessions->use(QByteArray::fromStdString(cookie), wallSeconds())) {
                return Caller::Session;
            }
        }
        return Caller::Refused;
    }

    void wrongSecret(const QString& client, bool password) {
        std::lock_guard lock(authMutex);
        if (throttle.failed(client, steadyMs(), password)) {
            say(QStringLiteral("%1 falsche Anmeldungen von %2; diese Adresse ist für "
                               "10 Minuten gesperrt.")
                    .arg(LoginThrottle::kAttempts)
                    .arg(client));
        }
    }

    // 401 or 429 for a caller who may not; true when answered.
    static bool refuse(Caller caller, httplib::Response& res) {
        if (caller == Caller::Locked) {
            setError(res, 429, lockedText());
            return true;
        }
        if (caller == Caller::Refused) {
            setError(res, 401, QStringLiteral("Bitte anmelden."));
            return true;
        }
        return false;
    }
    static QString lockedText() {
        return QStringLiteral("Zu viele falsche Anmeldungen: diese Adresse ist für "
                              "10 Minuten gesperrt.");
    }
};

namespace {

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

// The password from the form in the body; never from the query string,
// which ends up in logs and histories.
QByteArray formPassword(const httplib::Request& req) {
    httplib::Params fields;
    httplib::detail::parse_query_text(req.body, fields);
    const auto found = fields.find("password");
    return found == fields.end() ? QByteArray() : QByteArray::fromStdString(found->second);
}

// Checks a password under the throttle; the status to answer, 204 when right.
int checkPassword(Shared& shared, const QString& client, const QByteArray& stored,
                  const QByteArray& password, httplib::Response& res) {
    LoginThrottle::Verdict verdict;
    {
        std::lock_guard lock(shared.authMutex);
        verdict = shared.throttle.attempt(client, steadyMs(), true);
        if (verdict == LoginThrottle::Verdict::Wait) {
            const qint64 seconds = (shared.throttle.waitMs(steadyMs()) + 999) / 1000;
            res.set_header("Retry-After", std::to_string(std::max<qint64>(seconds, 1)));
        }
    }
    if (verdict != LoginThrottle::Verdict::Check) {
        return 429;
    }
    bool right = false;
    {
        std::lock_guard lock(shared.passwordMutex);
        right = verifyPassword(password, stored);
    }
    if (!right) {
        shared.wrongSecret(client, true);
        return 401;
    }
    std::lock_guard lock(shared.authMutex);
    shared.throttle.succeeded(client);
    return 204;
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
        res.set_header("Set-Cookie", std::string(kCookieName) + '=' + cookie.toStdString() +
                                         "; Path=/; HttpOnly; SameSite=Strict; Max-Age=" +
                                         std::to_string(SessionStore::kLifetimeSeconds) +
                                         (shared.tls ? "; Secure" : ""));
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
        res.set_header("Set-Cookie", std::string(kCookieName) +
                                         "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
                                         (shared.tls ? "; Secure" : ""));
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
        const Shared::Caller caller = shared.identify(req);
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
                           QByteArray::fromStdString(req.body)};
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

QString errorText(int status) {
    switch (status) {
    case 400:
        return QStringLiteral("Ungültige Anfrage.");
    case 404:
        return QStringLiteral("Unbekannter Pfad.");
    case 405:
        return QStringLiteral("Diese Methode gilt hier nicht.");
    case 413:
        return QStringLiteral("Die Anfrage ist zu groß: höchstens 4 KiB.");
    case 415:
        return QStringLiteral("Gepackte Anfragen werden nicht angenommen.");
    case 416:
        return QStringLiteral("Dieser Bereich der Datei ist nicht lieferbar.");
    case 414:
    case 431:
        return QStringLiteral("Die Kopfzeilen sind zu groß: höchstens 8 KiB.");
    case 503:
        return QStringLiteral("Zu viele Verbindungen.");
    default:
        return QStringLiteral("Fehler im Programm.");
    }
}

// On every answer, the ones refused unread too.
httplib::Headers securityHeaders() {
    return {
        {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    };
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

void configure(Shared& shared, httplib::Server& server) {
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

} // namespace

WebPanel::WebPanel(RelayOperations& relays, PanelOptions options, QTextStream& log, QObject* parent)
    : QObject(parent), relays_(relays), options_(std::move(options)), log_(log),
      ports_(
          std::make_shared<PortDirectory>([] { return SystemPortResolver::devicesInComOrder(); })),
      api_(relays, [ports = ports_] { return ports->devices(); }) {
    loadPage();
}

WebPanel::~WebPanel() {
    leave(1000);
}

void WebPanel::say(const QString& line) {
    log_ << QStringLiteral("Web-Panel: ") << line << Qt::endl;
}

namespace {

void addPage(Shared& shared) {
    shared.files = {
        {"/",
         {"text/html; charset=utf-8", readResource(QStringLiteral("index.html")).toStdString()}},
        {"/app.js",
         {"text/javascript; charset=utf-8", readResource(QStringLiteral("app.js")).toStdString()}},
        {"/style.css",
         {"text/css; charset=utf-8", readResource(QStringLiteral("style.css")).toStdString()}},
        {"/icon.svg", {"image/svg+xml", readResource(QStringLiteral("icon.svg")).toStdString()}},
    };
    shared.openApi = readResource(QStringLiteral("openapi.json")).toStdString();
}

// The answer to a connection refused unread: complete, and the same each time.
std::string refusalText() {
    const std::string body = apiError(503, errorText(503)).body.toStdString();
    std::string text = "HTTP/1.1 503 Service Unavailable\r\nContent-Type: " + std::string(kJson) +
                       "\r\nContent-Length: " + std::to_string(body.size()) +
                       "\r\nCache-Control: no-store\r\nRetry-After: 1\r\nConnection: close\r\n";
    for (const auto& [name, value] : securityHeaders()) {
        text += name + ": " + value + "\r\n";
    }
    return text + "\r\n" + body;
}

} // namespace

// The server's TLS context with the given or the self-signed certificate,
// or null (plain HTTP); false, with a line said, when it cannot be had.
bool WebPanel::makeTls(SSL_CTX*& tls, QString& fingerprintText) {
    tls = nullptr;
    if (!usesTls(options_)) {
        return true;
    }
    QString certFile = options_.certFile;
    QString keyFile = options_.keyFile;
    if (certFile.isEmpty()) {
        certFile = selfSignedCertFile(options_);
        keyFile = selfSignedKeyFile(options_);
        if (!QFileInfo::exists(certFile) || !QFileInfo::exists(keyFile)) {
            if (const auto error =
                    makeSelfSigned(certFile, keyFile, hostNames(), hostAddresses())) {
                say(*error);
                return false;
            }
            say(QStringLiteral("neues Zertifikat in %1").arg(certFile));
        }
    }
    QString error;
    fingerprintText = fingerprint(certFile, error);
    tls = makeServerTls(certFile, keyFile);
    if (tls == nullptr) {
        say(QStringLiteral("Zertifikat %1 oder Schlüssel %2 nicht brauchbar.")
                .arg(certFile, keyFile));
        return false;
    }
    return true;
}

bool WebPanel::bind(GuardedServer& server) {
    const std::string host =
        options_.address.isEmpty() ? std::string("::") : options_.address.toStdString();
    bool bound = server.bind_to_port(host, options_.port);
    if (!bound && options_.address.isEmpty()) {
        bound = server.bind_to_port("0.0.0.0", options_.port); // no IPv6 here
    }
    if (!bound) {
        say(QStringLiteral("Port %1 ist nicht frei, oder die Adresse %2 gibt es hier nicht.")
                .arg(options_.port)
                .arg(options_.address.isEmpty() ? QStringLiteral("*") : options_.address));
    }
    return bound;
}

void WebPanel::sayWhere(const QString& fingerprintText) {
    const bool tls = shared_->tls;
    const QString scheme = tls ? QStringLiteral("https") : QStringLiteral("http");
    QString where =
        options_.address.isEmpty()
            ? QStringLiteral("%1://%2:%3/ (alle Adressen)")
                  .arg(scheme, hostNames().value(0))
                  .arg(options_.port)
            : QStringLiteral("%1://%2:%3/")
                  .arg(scheme, options_.address.contains(QLatin1Char(':'))
                                   ? QLatin1Char('[') + options_.address + QLatin1Char(']')
                                   : options_.address)
                  .arg(options_.port);
    if (!fingerprintText.isEmpty()) {
        where += QStringLiteral(", Zertifikat SHA-256 ") + fingerprintText;
    }
    say(QStringLiteral("unter ") + where);
    if (!tls && shared_->passwordRequired) {
        say(QStringLiteral("ohne TLS (--web-plain-http): das Passwort geht unverschlüsselt "
                           "über das Netz."));
    }
    if (shared_->storedPassword().isEmpty()) {
        say(QStringLiteral("ohne Passwort: jeder Benutzer dieses Rechners kann schalten."));
    }
}

bool WebPanel::start() {
    // A connection left behind at the end must not find OpenSSL torn down
    // under it by the exit handlers.
    OPENSSL_init_ssl(OPENSSL_INIT_NO_ATEXIT, nullptr);
    const bool loopback = isLoopback(options_.address);
    if (!loopback && !QFileInfo::exists(options_.passwordFile)) {
        say(QStringLiteral("ohne Passwort nur auf 127.0.0.1 oder ::1; zuerst relaiskarte "
                           "--set-web-password."));
        return false;
    }
    auto shared = std::make_shared<Shared>();
    shared->options = options_;
    shared->tls = usesTls(options_);
    shared->passwordRequired = !loopback;
    shared->sessions = std::make_unique<SessionStore>(sessionsFile(options_));
    shared->ports = ports_;
    addPage(*shared);
    SSL_CTX* tls = nullptr;
    QString fingerprintText;
    if (!makeTls(tls, fingerprintText)) {
        return false;
    }
    shared->server = std::make_unique<GuardedServer>(tls, refusalText());
    configure(*shared, *shared->server);
    shared->server->new_task_queue = [weak =
                                          std::weak_ptr<Shared>(shared)]() -> httplib::TaskQueue* {
        const auto shared = weak.lock();
        return new ConnectionThreads(shared, shared->leaveBy);
    };
    if (!bind(*shared->server)) {
        return false;
    }
    {
        std::lock_guard lock(shared->contextMutex);
        shared->context = this;
        shared->api = &api_;
        shared->log = &log_;
    }
    shared_ = shared;
    publish();
    relays_.watch(this, [this] {
        api_.changed();
        publish();
    });
    listener_ = std::thread([shared] { shared->server->listen_after_bind(); });
    sayWhere(fingerprintText);
    return true;
}

void WebPanel::publish() {
    const QByteArray json = api_.stateJson();
    std::lock_guard lock(shared_->stateMutex);
    shared_->revision = api_.revision();
    shared_->stateJson = json.toStdString();
    shared_->stateChanged.notify_all();
}

void WebPanel::leave(int ms) {
    if (!shared_) {
        return;
    }
    const std::shared_ptr<Shared> shared = std::exchange(shared_, nullptr);
    {
        std::lock_guard lock(shared->stateMutex);
        shared->closing = true;
        shared->stateChanged.notify_all();
    }
    {
        std::lock_guard lock(shared->contextMutex);
        shared->context = nullptr;
    }
    // Idle connections notice the end within the keep-alive time; only a
    // client stuck halfway through a request is left behind.
    shared->leaveBy =
        (ConnectionThreads::Clock::now() + std::chrono::milliseconds(std::max(ms, 3000)))
            .time_since_epoch()
            .count();
    shared->server->stop();
    listener_.join();
    // (Sessions of a password changed meanwhile are not written back.)
    shared->storedPassword();
    std::lock_guard lock(shared->authMutex);
    shared->sessions->save(wallSeconds(), true);
}

} // namespace relais::web
