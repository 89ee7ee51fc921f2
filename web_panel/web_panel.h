#pragma once

#include "panel_api.h"
#include "relay_operations.h"
#include "remote_access.h"
#include "web_options.h"

#include <QObject>
#include <QTextStream>

#include <openssl/ssl.h>

#include <memory>
#include <thread>

namespace relais {
class PortDirectory;
}

namespace relais::web {

struct Shared;
class GuardedServer;

// The web panel: the page and the JSON API over HTTP(S), on a server of its
// own threads. Requests reach the relays only as calls queued to this
// object's thread, which owns them, so that the server never holds up a
// tick, a click or a repaint. What happens is told in single German lines
// on `log`.
class WebPanel : public QObject, public RemoteAccess {
    Q_OBJECT

public:
    WebPanel(RelayOperations& relays, PanelOptions options, QTextStream& log,
             QObject* parent = nullptr);
    ~WebPanel() override;
    // Listens; false, with a line on the log, when it cannot (the port is
    // taken, no password beyond loopback, the certificate will not load).
    bool start();
    // Ends the event streams and stops listening.
    void leave(int ms) override;

private:
    bool makeTls(SSL_CTX*& tls, QString& fingerprintText);
    bool bind(GuardedServer& server);
    void sayWhere(const QString& fingerprintText);
    void publish(const RelayState& state);
    void say(const QString& line);

    RelayOperations& relays_;
    PanelOptions options_;
    QTextStream& log_;
    std::shared_ptr<PortDirectory> ports_;
    PanelApi api_;
    std::shared_ptr<Shared> shared_;
    std::thread listener_;
};

} // namespace relais::web
