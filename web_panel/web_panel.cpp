#include "web_panel.h"

#include "certificate.h"
#include "host_addresses.h"
#include "listen_socket.h"
#include "panel_routes.h"
#include "panel_shared.h"
#include "tls_context.h"

#include <QFileInfo>

#include <openssl/ssl.h>

// The page, compiled in; linked statically (Windows) its resources need asking for.
static void loadPage() {
    Q_INIT_RESOURCE(web_page);
}

namespace relais::web {

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
    if (bound) {
        server.widenBacklog();
    } else {
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
    shared->relaysThread = std::make_unique<RelaysThread>(this);
    shared->api = &api_;
    shared->log = &log_;
    shared->sessions = std::make_unique<SessionStore>(sessionsFile(options_));
    shared->ports = ports_;
    addPage(*shared);
    SSL_CTX* tls = nullptr;
    QString fingerprintText;
    if (!makeTls(tls, fingerprintText)) {
        return false;
    }
    shared->server = std::make_unique<GuardedServer>(tls, refusalText());
    configurePanel(*shared, *shared->server);
    shared->server->new_task_queue = [weak =
                                          std::weak_ptr<Shared>(shared)]() -> httplib::TaskQueue* {
        const auto shared = weak.lock();
        return new ConnectionThreads(shared, shared->leaveBy);
    };
    if (!bind(*shared->server)) {
        return false;
    }
    shared_ = shared;
    publish(relays_.state());
    relays_.watch(this, [this](const RelayChange& change) {
        api_.record(change);
        publish(change.state);
    });
    relays_.watchRefusals(this, [this](const Refusal& refusal, const ChangeSource& source) {
        api_.record(refusal, source);
    });
    listener_ = std::thread([shared] { shared->server->listen_after_bind(); });
    sayWhere(fingerprintText);
    return true;
}

void WebPanel::publish(const RelayState& state) {
    const QByteArray json = api_.stateJson(state);
    std::lock_guard lock(shared_->stateMutex);
    shared_->revision = state.revision;
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
    shared->relaysThread->end();
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
