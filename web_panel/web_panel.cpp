#include "web_panel.h"

#include "certificate.h"
#include "listen_socket.h"
#include "login_store.h"
#include "login_throttle.h"
#include "port_resolver.h"

#include <httplib.h>

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <openssl/pem.h>
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
constexpr int kRefusingThreads = 2;
constexpr int kMaxStreams = 32;
constexpr size_t kMaxHeaderBytes = 8192;
constexpr size_t kMaxBodyBytes = 4096;
constexpr int kIdleSeconds = 10;
constexpr auto kQuietInterval = 15s;
constexpr char kCookieName[] = "relaiskarte_session";
constexpr char kJson[] = "application/json; charset=utf-8";

// Set on the threads that only answer "too many connections".
thread_local bool tRefusing = false;

// One thread per connection up to 64; the connections beyond are answered
// 503 by two more threads. At shutdown, threads still held by a client
// after the deadline are left to end by themselves: they keep what they use
// alive (`keep`), so the program never waits on a slow client.
class ConnectionThreads : public httplib::TaskQueue {
public:
    using Clock = std::chrono::steady_clock;
    // `leaveBy`: until when shutdown waits for clients, kept alive by `keep`.
    ConnectionThreads(std::shared_ptr<void> keep, const std::atomic<Clock::rep>& leaveBy)
        : state_(std::make_shared<State>()), keep_(std::move(keep)), leaveBy_(leaveBy) {}

    void enqueue(std::function<void()> job) override {
        std::lock_guard lock(state_->mutex);
        const bool refuse = state_->busy >= kMaxConnections;
        Pool& pool = refuse ? state_->refusing : state_->serving;
        pool.jobs.push_back(std::move(job));
        if (!refuse) {
            ++state_->busy;
        }
        if (pool.idle == 0 &&
            pool.threads.size() < size_t(refuse ? kRefusingThreads : kMaxConnections)) {
            ++state_->running;
            pool.threads.emplace_back(run, state_, keep_, refuse);
        }
        state_->wake.notify_all();
    }

    void shutdown() override {
        std::unique_lock lock(state_->mutex);
        state_->stopping = true;
        state_->wake.notify_all();
        const auto deadline = Clock::time_point(Clock::duration(leaveBy_.load()));
        const bool ended =
            state_->ended.wait_until(lock, deadline, [this] { return state_->running == 0; });
        for (Pool* pool : {&state_->serving, &state_->refusing}) {
            for (std::thread& thread : pool->threads) {
                ended ? thread.join() : thread.detach();
            }
            pool->threads.clear();
        }
        if (!ended) {
            // What the threads left behind use is never freed: freeing it on
            // their way out could meet the program's own end.
            new std::shared_ptr<void>(keep_);
        }
    }

private:
    struct Pool {
        std::deque<std::function<void()>> jobs;
        std::vector<std::thread> threads;
        int idle = 0;
    };
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable ended;
        Pool serving;
        Pool refusing;
        int busy = 0;
        int running = 0;
        bool stopping = false;
    };

    static void run(std::shared_ptr<State> state, std::shared_ptr<void> keep, bool refuse) {
        tRefusing = refuse;
        Pool& pool = refuse ? state->refusing : state->serving;
        std::unique_lock lock(state->mutex);
        for (;;) {
            ++pool.idle;
            state->wake.wait(lock, [&] { return state->stopping || !pool.jobs.empty(); });
            --pool.idle;
            if (pool.jobs.empty()) {
                break;
            }
            std::function<void()> job = std::move(pool.jobs.front());
            pool.jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr;
            lock.lock();
            if (!refuse) {
                --state->busy;
            }
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

qint64 steadySeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
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
    std::mutex passwordMutex; // one password check at a time: 32 MiB each

    // The panel on its own thread; null once it is gone.
    std::mutex contextMutex;
    QObject* context = nullptr;
    PanelApi* api = nullptr;
    QTextStream* log = nullptr;

    std::unique_ptr<httplib::Server> server;
    std::atomic<ConnectionThreads::Clock::rep> leaveBy{
        ConnectionThreads::Clock::time_point::max().time_since_epoch().count()};

    bool passwordSet() const { return QFileInfo::exists(options.passwordFile); }
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
                context, [log = log, line] { *log << line << Qt::endl; }, Qt::QueuedConnection);
        }
    }

    enum class Caller { Refused, Locked, Session, Token, Anyone };

    // Who asks: a session's cookie, a bearer token, or anyone where no
    // password is set (then only on loopback). A wrong token counts as a
    // wrong password.
    Caller identify(const httplib::Request& req) {
        if (!passwordSet()) {
            return Caller::Anyone;
        }
        const QString address = QString::fromStdString(req.remote_addr);
        const std::string authorization = req.get_header_value("Authorization");
        if (authorization.rfind("Bearer ", 0) == 0) {
            {
                std::lock_guard lock(authMutex);
                if (!throttle.allows(address, steadySeconds())) {
                    return Caller::Locked;
                }
            }
            if (TokenFile(tokensFile(options))
                    .accepts(QByteArray::fromStdString(authorization.substr(7)))) {
                return Caller::Token;
            }
            wrongSecret(address);
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

    void wrongSecret(const QString& address) {
        std::lock_guard lock(authMutex);
        if (throttle.failed(address, steadySeconds())) {
            say(QStringLiteral("Web-Panel: %1 falsche Anmeldungen von %2; diese Adresse ist für "
                               "10 Minuten gesperrt.")
                    .arg(LoginThrottle::kAttempts)
                    .arg(address));
        }
    }

    // 401 or 429 for a caller who may not; true when answered.
    static bool refuse(Caller caller, httplib::Response& res) {
        if (caller == Caller::Locked) {
            setError(res, 429,
                     QStringLiteral("Zu viele falsche Anmeldungen: diese Adresse ist für "
                                    "10 Minuten gesperrt."));
            return true;
        }
        if (caller == Caller::Refused) {
            setError(res, 401, QStringLiteral("Bitte anmelden."));
            return true;
        }
        return false;
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
        if (!shared.passwordSet()) {
            return setError(res, 409, QStringLiteral("Es ist kein Passwort gesetzt."));
        }
        const QString address = QString::fromStdString(req.remote_addr);
        {
            std::lock_guard lock(shared.authMutex);
            if (!shared.throttle.allows(address, steadySeconds())) {
                return (void)Shared::refuse(Shared::Caller::Locked, res);
            }
        }
        QFile file(shared.options.passwordFile);
        const QByteArray stored = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        bool right = false;
        {
            std::lock_guard lock(shared.passwordMutex);
            right =
                verifyPassword(QByteArray::fromStdString(req.get_param_value("password")), stored);
        }
        if (!right) {
            shared.wrongSecret(address);
            return setError(res, 401, QStringLiteral("Falsches Passwort."));
        }
        QByteArray cookie;
        {
            std::lock_guard lock(shared.authMutex);
            shared.throttle.succeeded(address);
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
            [&shared, sent = quint64(0)](size_t, httplib::DataSink& sink) mutable {
                std::unique_lock lock(shared.stateMutex);
                if (sent != 0) {
                    shared.stateChanged.wait_for(lock, kQuietInterval, [&] {
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
                    text = "event: state\nid: " + std::to_string(sent) +
                           "\ndata: " + shared.stateJson + "\n\n";
                } else {
                    text = ": ruhig\n\n";
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
            return res.set_content(shared.stateJson, kJson);
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
    case 414:
    case 431:
        return QStringLiteral("Die Kopfzeilen sind zu groß: höchstens 8 KiB.");
    case 503:
        return QStringLiteral("Zu viele Verbindungen.");
    default:
        return QStringLiteral("Fehler im Programm.");
    }
}

void configure(Shared& shared, httplib::Server& server) {
    server.set_default_headers({
        {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    });
    server.set_socket_options([](socket_t socket) { setListenOptions(int(socket)); });
    server.set_tcp_nodelay(true); // an answer's head and body go out at once, not 40 ms apart
    server.set_read_timeout(kIdleSeconds, 0);
    server.set_write_timeout(kIdleSeconds, 0);
    // Idle connections are let go soon: nothing waits on them at exit.
    server.set_keep_alive_timeout(2);
    server.set_payload_max_length(kMaxBodyBytes);
    server.set_pre_routing_handler([&shared](const httplib::Request& req, httplib::Response& res) {
        bool closing = false;
        {
            std::lock_guard lock(shared.stateMutex);
            closing = shared.closing;
        }
        // Ending, or too many: answered at once, touching nothing else (a
        // client still here at the program's end may be served after it).
        if (tRefusing || closing) {
            res.set_header("Connection", "close");
            setError(res, 503,
                     closing ? QStringLiteral("Das Programm endet gerade.") : errorText(503));
            return httplib::Server::HandlerResponse::Handled;
        }
        size_t headerBytes = req.method.size() + req.target.size();
        for (const auto& [name, value] : req.headers) {
            headerBytes += name.size() + value.size() + 4;
        }
        if (headerBytes > kMaxHeaderBytes + 128) { // (the server's own few)
            res.set_header("Connection", "close");
            setError(res, 431, errorText(431));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (!shared.passwordSet() && !hostIsLoopback(req.get_header_value("Host"))) {
            setError(res, 403, QStringLiteral("Ohne Passwort nur über 127.0.0.1 oder ::1."));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
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
      api_(relays, [] { return SystemPortResolver::devicesInComOrder(); }) {
    loadPage();
}

WebPanel::~WebPanel() {
    leave(1000);
}

void WebPanel::say(const QString& line) {
    log_ << QStringLiteral("Web-Panel: ") << line << Qt::endl;
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
    shared->sessions = std::make_unique<SessionStore>(sessionsFile(options_));
    shared->files = {
        {"/",
         {"text/html; charset=utf-8", readResource(QStringLiteral("index.html")).toStdString()}},
        {"/app.js",
         {"text/javascript; charset=utf-8", readResource(QStringLiteral("app.js")).toStdString()}},
        {"/style.css",
         {"text/css; charset=utf-8", readResource(QStringLiteral("style.css")).toStdString()}},
        {"/icon.svg", {"image/svg+xml", readResource(QStringLiteral("icon.svg")).toStdString()}},
    };
    shared->openApi = readResource(QStringLiteral("openapi.json")).toStdString();

    QString fingerprintText;
    if (shared->tls) {
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
        X509* cert = nullptr;
        EVP_PKEY* key = nullptr;
        if (FILE* f = fopen(QFile::encodeName(certFile).constData(), "r")) {
            cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
            fclose(f);
        }
        if (FILE* f = fopen(QFile::encodeName(keyFile).constData(), "r")) {
            key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
            fclose(f);
        }
        if (cert != nullptr && key != nullptr) {
            shared->server = std::make_unique<httplib::SSLServer>(cert, key);
        }
        X509_free(cert);
        EVP_PKEY_free(key);
        if (!shared->server || !shared->server->is_valid()) {
            say(QStringLiteral("Zertifikat %1 oder Schlüssel %2 nicht brauchbar.")
                    .arg(certFile, keyFile));
            return false;
        }
    } else {
        shared->server = std::make_unique<httplib::Server>();
    }
    httplib::Server& server = *shared->server;
    configure(*shared, server);
    server.new_task_queue = [weak = std::weak_ptr<Shared>(shared)]() -> httplib::TaskQueue* {
        const auto shared = weak.lock();
        return new ConnectionThreads(shared, shared->leaveBy);
    };

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

    const QString scheme = shared->tls ? QStringLiteral("https") : QStringLiteral("http");
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
    if (!shared->tls && !loopback) {
        say(QStringLiteral("ohne TLS (--web-plain-http): das Passwort geht unverschlüsselt "
                           "über das Netz."));
    }
    if (!shared->passwordSet()) {
        say(QStringLiteral("ohne Passwort: jeder Benutzer dieses Rechners kann schalten."));
    }
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
    std::lock_guard lock(shared->authMutex);
    shared->sessions->save(wallSeconds(), true);
}

} // namespace relais::web
