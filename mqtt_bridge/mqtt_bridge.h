#pragma once

#include "bridge_options.h"
#include "mqtt_topics.h"
#include "port_directory.h"
#include "relay_operations.h"
#include "relays_thread.h"
#include "remote_access.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTextStream>

#include <memory>
#include <mutex>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace relais::mqtt {

// The relays on an MQTT broker: states retained under
// "relaiskarte/<name>/", commands taken from its "…/set" topics, Home
// Assistant discovery, "online"/"offline" with the will. The broker is
// talked to on libmosquitto's own thread, which also reconnects (1 s
// growing to 30 s); everything that touches the relays runs on this
// object's thread, so a slow or dead broker never holds up a click or a
// tick. What happens is told in single German lines on `log`.
class Bridge : public QObject, public RemoteAccess {
    Q_OBJECT

public:
    Bridge(RelayOperations& relays, BridgeOptions options, QTextStream& log,
           QObject* parent = nullptr);
    // Says "offline" and leaves the broker (waiting at most a second).
    ~Bridge() override;

    // Starts connecting in the background; false (with a line on the log)
    // only if the options cannot work at all.
    bool start();
    // Publishes the current state and "offline", and waits until the broker
    // has them or `ms` have passed; then leaves the broker.
    void leave(int ms) override;

private:
    // The broker's own calls arrive on libmosquitto's thread: hand them over.
    static void handOver(void* self, std::function<void()> job);
    static void onConnect(mosquitto*, void* self, int rc);
    static void onDisconnect(mosquitto*, void* self, int rc);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message);
    static void onPublish(mosquitto*, void* self, int mid);
    static void onLog(mosquitto*, void* self, int level, const char* text);

    void tryConnect();
    void connectAttempted(int rc, int error);
    void connectedNow(int rc);
    void disconnectedNow(int rc);
    void received(const QString& topic, const QByteArray& payload, bool retained);
    void schedulePublish(const RelayChange& change);
    void publishChanges();
    int publish(const Message& message);
    void say(const QString& line);
    void ignore(const QString& topic, const QString& why);
    void giveUp(const QString& line);

    RelayOperations& relays_;
    BridgeOptions options_;
    RelaysThread relaysThread_{this};
    // For what a command from the broker may open, without asking the
    // system on the relays' thread.
    PortDirectory ports_{[] { return SystemPortResolver::devicesInComOrder(); }};
    QTextStream& log_;
    mosquitto* mosq_ = nullptr;
    bool loopRunning_ = false;
    // The first attempts run on a thread of their own: resolving the
    // broker's name may take seconds. It reports back only while this
    // object lives.
    struct Liveness {
        std::mutex mutex;
        Bridge* bridge = nullptr;
    };
    std::shared_ptr<Liveness> alive_ = std::make_shared<Liveness>();
    std::thread connector_;
    bool connecting_ = false;
    int retryDelayMs_ = 1000;
    bool connected_ = false;
    bool toldUnreachable_ = false;
    bool gaveUp_ = false;
    bool publishPending_ = false;
    // The state, and what of it the broker has not been told yet.
    RelayState state_;
    quint16 untoldRelays_ = 0xFFFF;
    bool untoldLink_ = true;
    bool untoldSchedules_ = false;
    // Ignored commands are told, but not more than a few a second.
    QElapsedTimer ignoreWindow_;
    int ignoredInWindow_ = 0;
    int ignoredUntold_ = 0;
    int leavingMid_ = -1;
    bool leavingAcked_ = false;
};

} // namespace relais::mqtt
