#pragma once

#include "connection_threads.h"
#include "guarded_server.h"
#include "http_replies.h"
#include "login_store.h"
#include "login_throttle.h"
#include "panel_api.h"
#include "port_directory.h"
#include "relays_thread.h"
#include "web_options.h"

#include <httplib.h>

#include <QObject>
#include <QTextStream>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace relais::web {

inline constexpr int kMaxStreams = 32;
inline constexpr char kCookieName[] = "relaiskarte_session";

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

    // The panel on the relays' thread, reached only through `relaysThread`.
    std::unique_ptr<RelaysThread> relaysThread;
    PanelApi* api = nullptr;
    QTextStream* log = nullptr;

    std::unique_ptr<GuardedServer> server;
    std::atomic<ConnectionThreads::Clock::rep> leaveBy{
        ConnectionThreads::Clock::time_point::max().time_since_epoch().count()};

    // The stored password line as it is now; empty when there is none or it
    // cannot be read. Read afresh each time, so that a new password ends the
    // sessions of the old one at once.
    QByteArray storedPassword();
    std::string ownOrigin(const httplib::Request& req) const;
    bool foreignOrigin(const httplib::Request& req) const;

    // Runs `call` on the panel's thread and waits for its answer; 503 when
    // the program is ending.
    ApiReply onPanelThread(std::function<ApiReply(PanelApi&)> call);

    void say(const QString& line);

    enum class Caller { Refused, Locked, Session, Token, Anyone };

    // Who asks: a session's cookie, a bearer token, or anyone where no
    // password is set on a loopback-only panel (then only on loopback). A
    // wrong token counts as a wrong password. `who`, if given, says who in
    // the words of a record ("Token heizung", "Sitzung von 192.0.2.1").
    Caller identify(const httplib::Request& req, QString* who = nullptr);

    void wrongSecret(const QString& client, bool password);

    // 401 or 429 for a caller who may not; true when answered.
    static bool refuse(Caller caller, httplib::Response& res);
    static QString lockedText();
};

} // namespace relais::web
