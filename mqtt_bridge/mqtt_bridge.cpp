#include "mqtt_bridge.h"

#include "link_control.h"
#include "messages.h"
#include "relay_command.h"
#include "system_trust.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <mosquitto.h>

#include <QDeadlineTimer>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace relais::mqtt {

namespace {

struct Library {
    Library() { mosquitto_lib_init(); }
    ~Library() { mosquitto_lib_cleanup(); }
};

// The broker's own calls arrive on libmosquitto's thread: hand them over.
template <class F> void onBridgeThread(void* self, F&& f) {
    QMetaObject::invokeMethod(static_cast<Bridge*>(self), std::forward<F>(f), Qt::QueuedConnection);
}

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
constexpr int kIgnoredLinesPerSecond = 10;

// What every connection of ours to the broker has: the protocol, no Nagle
// delay, the login and TLS. An error line when TLS cannot be set up.
std::optional<QString> configureClient(mosquitto* mosq, const BridgeOptions& options) {
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    // States are small and go out one after the other: no waiting to fill packets.
    mosquitto_int_option(mosq, MOSQ_OPT_TCP_NODELAY, 1);
    if (!options.user.isEmpty()) {
        mosquitto_username_pw_set(mosq, options.user.toUtf8().constData(),
                                  options.password.toUtf8().constData());
    }
    if (options.tls && options.caFile.isEmpty()) {
        return trustSystemCertificates(mosq, options.host);
    }
    if (options.tls) {
        const QByteArray ca = options.caFile.toLocal8Bit();
        const int rc = mosquitto_tls_set(mosq, ca.constData(), nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            return QStringLiteral("MQTT: TLS nicht einzurichten (%1): %2")
                .arg(options.caFile, QString::fromUtf8(mosquitto_strerror(rc)));
        }
    }
    return std::nullopt;
}

} // namespace

Bridge::Bridge(RelayOperations& relays, BridgeOptions options, QTextStream& log, QObject* parent)
    : QObject(parent), relays_(relays), options_(std::move(options)), log_(log) {
    static Library library;
    alive_->bridge = this;
    relays_.watch(this, [this] { schedulePublish(); });
    ignoreWindow_.start();
}

Bridge::~Bridge() {
    {
        const std::lock_guard<std::mutex> lock(alive_->mutex);
        alive_->bridge = nullptr;
    }
    if (mosq_ == nullptr) {
        return;
    }
    if (connecting_) {
        // Still resolving or connecting: never wait for that on the way out.
        // The thread keeps the connection, which ends with the process.
        connector_.detach();
        return;
    }
    if (connector_.joinable()) {
        connector_.join();
    }
    leave(1000);
    if (loopRunning_) {
        mosquitto_loop_stop(mosq_, false);
    }
    mosquitto_destroy(mosq_);
}

bool Bridge::start() {
    const QByteArray id = (QStringLiteral("relaiskarte-") + options_.name).toUtf8();
    mosq_ = mosquitto_new(id.constData(), true, this);
    if (mosq_ == nullptr) {
        say(QStringLiteral("MQTT: kann keine Verbindung anlegen: %1").arg(strerror(errno)));
        return false;
    }
    const QByteArray status = statusTopic(options_.name).toUtf8();
    mosquitto_will_set(mosq_, status.constData(), 7, "offline", kQos, true);
    if (const auto error = configureClient(mosq_, options_)) {
        say(*error);
        return false;
    }
    mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
    mosquitto_connect_callback_set(mosq_, &Bridge::onConnect);
    mosquitto_disconnect_callback_set(mosq_, &Bridge::onDisconnect);
    mosquitto_message_callback_set(mosq_, &Bridge::onMessage);
    mosquitto_publish_callback_set(mosq_, &Bridge::onPublish);
    mosquitto_log_callback_set(mosq_, &Bridge::onLog);

    tryConnect();
    return true;
}

void Bridge::tryConnect() {
    // Until a first connection attempt gets under way, knocking again is up
    // to us (libmosquitto's thread only retries connections it has begun);
    // after that, its thread reconnects by itself.
    if (connector_.joinable()) {
        connector_.join();
    }
    connecting_ = true;
    connector_ = std::thread(
        [mosq = mosq_, host = options_.host.toUtf8(), port = options_.port, alive = alive_] {
            const int rc = mosquitto_connect_async(mosq, host.constData(), port, kKeepAliveSeconds);
            const int error = errno;
            const std::lock_guard<std::mutex> lock(alive->mutex);
            if (Bridge* bridge = alive->bridge) {
                QMetaObject::invokeMethod(
                    bridge, [bridge, rc, error] { bridge->connectAttempted(rc, error); },
                    Qt::QueuedConnection);
            }
        });
}

void Bridge::connectAttempted(int rc, int error) {
    connecting_ = false;
    if (gaveUp_) {
        return;
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        disconnectedNow(rc == MOSQ_ERR_ERRNO ? -error : rc);
        QTimer::singleShot(retryDelayMs_, this, &Bridge::tryConnect);
        retryDelayMs_ = qMin(retryDelayMs_ * 2, 30000);
        return;
    }
    loopRunning_ = mosquitto_loop_start(mosq_) == MOSQ_ERR_SUCCESS;
    if (!loopRunning_) {
        say(QStringLiteral("MQTT: kann den Netzwerk-Thread nicht starten."));
    }
}

void Bridge::onConnect(mosquitto* mosq, void* self, int rc) {
    if (rc != 0) {
        // Refused: asking again with the same credentials would only be
        // refused again, so stop here (this also ends the retries).
        mosquitto_disconnect(mosq);
    }
    onBridgeThread(self, [self, rc] { static_cast<Bridge*>(self)->connectedNow(rc); });
}

void Bridge::onDisconnect(mosquitto*, void* self, int rc) {
    onBridgeThread(self, [self, rc] { static_cast<Bridge*>(self)->disconnectedNow(rc); });
}

void Bridge::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    const QString topic = QString::fromUtf8(message->topic);
    // Longer payloads are never looked at: keep only enough to say so.
    const QByteArray payload(static_cast<const char*>(message->payload),
                             qMin(message->payloadlen, kMaxPayload + 1));
    const bool retained = message->retain;
    onBridgeThread(self, [self, topic, payload, retained] {
        static_cast<Bridge*>(self)->received(topic, payload, retained);
    });
}

void Bridge::onPublish(mosquitto*, void* self, int mid) {
    onBridgeThread(self, [self, mid] {
        auto* bridge = static_cast<Bridge*>(self);
        bridge->leavingAcked_ = bridge->leavingAcked_ || mid == bridge->leavingMid_;
    });
}

void Bridge::onLog(mosquitto*, void* self, int level, const char* text) {
    // A certificate the broker's name or our CAs do not vouch for: say so
    // once. libmosquitto's thread gives up by itself on that; this call
    // runs under its locks, so nothing here may call back into it.
    if (level == MOSQ_LOG_ERR && std::strstr(text, "OpenSSL Error") != nullptr) {
        const QString line = QString::fromUtf8(text);
        onBridgeThread(self, [self, line] {
            static_cast<Bridge*>(self)->giveUp(
                QStringLiteral("MQTT: TLS-Verbindung abgelehnt: %1").arg(line));
        });
    }
}

void Bridge::connectedNow(int rc) {
    if (rc != 0) {
        giveUp(QStringLiteral("MQTT: Der Broker %1:%2 lehnt die Anmeldung ab: %3")
                   .arg(options_.host)
                   .arg(options_.port)
                   .arg(QString::fromUtf8(mosquitto_connack_string(rc))));
        return;
    }
    if (gaveUp_) {
        return;
    }
    connected_ = true;
    toldUnreachable_ = false;
    say(QStringLiteral("MQTT: verbunden mit %1:%2 als »%3«.")
            .arg(options_.host)
            .arg(options_.port)
            .arg(options_.name));
    for (const QString& filter : commandFilters(options_.name)) {
        mosquitto_subscribe(mosq_, nullptr, filter.toUtf8().constData(), kQos);
    }
    // The broker may have lost everything: tell it all again.
    published_.clear();
    publish({statusTopic(options_.name), QByteArrayLiteral("online")});
    for (const Message& config : discoveryMessages(
             {options_.name, options_.discoveryPrefix, QCoreApplication::applicationVersion()})) {
        publish(config);
    }
    publishChanges();
}

void Bridge::disconnectedNow(int rc) {
    const bool was = connected_;
    connected_ = false;
    if (rc == 0 || gaveUp_) {
        return; // we left
    }
    if (was) {
        say(QStringLiteral("MQTT: Verbindung zum Broker %1:%2 verloren; neue Versuche laufen.")
                .arg(options_.host)
                .arg(options_.port));
    } else if (!toldUnreachable_) {
        toldUnreachable_ = true;
        const QString why = rc < 0 ? QString::fromLocal8Bit(strerror(-rc))
                                   : QString::fromUtf8(mosquitto_strerror(rc));
        say(QStringLiteral("MQTT: Broker %1:%2 nicht erreichbar (%3); neue Versuche laufen im "
                           "Hintergrund.")
                .arg(options_.host)
                .arg(options_.port)
                .arg(why));
    }
}

void Bridge::giveUp(const QString& line) {
    if (gaveUp_) {
        return;
    }
    gaveUp_ = true;
    connected_ = false;
    if (!connecting_) {
        mosquitto_disconnect(mosq_); // no more tries
    }
    say(line);
}

void Bridge::received(const QString& topic, const QByteArray& payload, bool retained) {
    if (retained) {
        // Left on the broker from before: every start begins with all off.
        ignore(topic, QStringLiteral("gespeicherter Befehl von früher"));
        return;
    }
    const Command command = parseCommand(options_.name, topic, payload);
    RelayCommand::Made made = RelayCommand::stop();
    switch (command.kind) {
    case Command::Kind::SetRelay:
        made = RelayCommand::setRelay(command.relay, command.on);
        break;
    case Command::Kind::ToggleRelay:
        made = RelayCommand::toggleRelay(command.relay);
        break;
    case Command::Kind::SetRelays:
        made = RelayCommand::setAll(command.mask);
        break;
    case Command::Kind::Stop:
        break;
    case Command::Kind::Start:
        made = RelayCommand::start(command.port, true);
        break;
    case Command::Kind::Invalid:
        return ignore(topic, command.error);
    }
    std::optional<Refusal> refusal;
    if (const auto* refused = std::get_if<Refusal>(&made)) {
        refusal = *refused;
    } else {
        refusal =
            carryOut(relays_, std::get<RelayCommand>(made), [this] { return ports_.devices(); });
    }
    if (!refusal) {
        return;
    }
    if (command.kind != Command::Kind::Start) {
        return ignore(topic, refusal->text);
    }
    const QString& text = refusal->message.isEmpty() ? refusal->text : refusal->message;
    publish({linkErrorTopic(options_.name), text.toUtf8(), false});
}

void Bridge::ignore(const QString& topic, const QString& why) {
    if (ignoreWindow_.elapsed() > 1000) {
        if (ignoredUntold_ > 0) {
            say(QStringLiteral("MQTT: %1 weitere Nachrichten ignoriert.").arg(ignoredUntold_));
        }
        ignoreWindow_.restart();
        ignoredInWindow_ = 0;
        ignoredUntold_ = 0;
    }
    if (++ignoredInWindow_ <= kIgnoredLinesPerSecond) {
        say(QStringLiteral("MQTT: ignoriert (%1): %2").arg(topic.left(120), why));
    } else {
        ++ignoredUntold_;
    }
}

void Bridge::schedulePublish() {
    // Many changes in one go (a pattern, a flood of commands) are told once.
    if (!publishPending_) {
        publishPending_ = true;
        QTimer::singleShot(0, this, &Bridge::publishChanges);
    }
}

void Bridge::publishChanges() {
    publishPending_ = false;
    if (!connected_) {
        return; // everything is told on connecting
    }
    for (const Message& state :
         stateMessages(options_.name, relays_.relays(), relays_.isRunning())) {
        if (published_.value(state.topic) != state.payload && publish(state) >= 0) {
            published_.insert(state.topic, state.payload);
        }
    }
}

int Bridge::publish(const Message& message) {
    int mid = 0;
    const QByteArray topic = message.topic.toUtf8();
    const int rc = mosquitto_publish(mosq_, &mid, topic.constData(), int(message.payload.size()),
                                     message.payload.constData(), kQos, message.retain);
    return rc == MOSQ_ERR_SUCCESS ? mid : -1;
}

void Bridge::leave(int ms) {
    if (mosq_ == nullptr || connecting_) {
        return;
    }
    if (!connected_) {
        mosquitto_disconnect(mosq_); // ends the retries
        return;
    }
    publishChanges();
    leavingAcked_ = false;
    leavingMid_ = publish({statusTopic(options_.name), QByteArrayLiteral("offline")});
    QEventLoop wait;
    QTimer poll;
    connect(&poll, &QTimer::timeout, &wait, [&] {
        if (leavingAcked_) {
            wait.quit();
        }
    });
    QTimer::singleShot(ms, &wait, &QEventLoop::quit);
    poll.start(5);
    if (leavingMid_ >= 0) {
        wait.exec();
    }
    connected_ = false;
    mosquitto_disconnect(mosq_);
}

void Bridge::say(const QString& line) {
    log_ << line << Qt::endl;
}

namespace {

// One connection that clears what a card left on the broker; driven on the
// calling thread with libmosquitto's own loop, every wait bounded.
struct Forgetting {
    QSet<QString> retained;
    int connack = -1;
    int subscribed = 0;
    QSet<int> unacked;
    QDeadlineTimer quietUntil;

    static Forgetting& of(void* self) { return *static_cast<Forgetting*>(self); }
    bool loopUntil(mosquitto* mosq, int ms, const std::function<bool()>& done) {
        const QDeadlineTimer deadline(ms);
        while (!done()) {
            if (deadline.hasExpired() || mosquitto_loop(mosq, 50, 1) != MOSQ_ERR_SUCCESS) {
                return done();
            }
        }
        return true;
    }
};

} // namespace

bool forgetCard(const BridgeOptions& options, QTextStream& log) {
    static Library library;
    const QString where = QStringLiteral("%1:%2").arg(options.host).arg(options.port);
    Forgetting state;
    std::unique_ptr<mosquitto, void (*)(mosquitto*)> mosq(mosquitto_new(nullptr, true, &state),
                                                          mosquitto_destroy);
    if (!mosq) {
        log << QStringLiteral("MQTT: kann keine Verbindung anlegen: %1").arg(strerror(errno))
            << Qt::endl;
        return false;
    }
    if (const auto error = configureClient(mosq.get(), options)) {
        log << *error << Qt::endl;
        return false;
    }
    mosquitto_connect_callback_set(
        mosq.get(), [](mosquitto*, void* self, int rc) { Forgetting::of(self).connack = rc; });
    mosquitto_subscribe_callback_set(mosq.get(), [](mosquitto*, void* self, int, int, const int*) {
        ++Forgetting::of(self).subscribed;
    });
    mosquitto_message_callback_set(
        mosq.get(), [](mosquitto*, void* self, const mosquitto_message* m) {
            auto& state = Forgetting::of(self);
            if (m->retain && m->payloadlen > 0) {
                state.retained.insert(QString::fromUtf8(m->topic));
            }
            state.quietUntil = QDeadlineTimer(300); // retained ones come in a burst
        });
    mosquitto_publish_callback_set(mosq.get(), [](mosquitto*, void* self, int mid) {
        Forgetting::of(self).unacked.remove(mid);
    });

    const int rc = mosquitto_connect(mosq.get(), options.host.toUtf8().constData(), options.port,
                                     kKeepAliveSeconds);
    if (rc != MOSQ_ERR_SUCCESS ||
        !state.loopUntil(mosq.get(), 10000, [&] { return state.connack >= 0; })) {
        const QString why = rc == MOSQ_ERR_SUCCESS ? QStringLiteral("keine Antwort")
                            : rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(strerror(errno))
                                                   : QString::fromUtf8(mosquitto_strerror(rc));
        log << QStringLiteral("MQTT: Broker %1 nicht erreichbar (%2).").arg(where, why) << Qt::endl;
        return false;
    }
    if (state.connack != 0) {
        log << QStringLiteral("MQTT: Der Broker %1 lehnt die Anmeldung ab: %2")
                   .arg(where, QString::fromUtf8(mosquitto_connack_string(state.connack)))
            << Qt::endl;
        return false;
    }
    // What the broker keeps of this card, found by asking for it; and what
    // the program publishes, in case the broker held back some of it.
    const Identity identity{options.name, options.discoveryPrefix, QString()};
    const QStringList filters{
        baseTopic(options.name) + QLatin1Char('#'),
        QStringLiteral("%1/+/relaiskarte_%2/+/config").arg(options.discoveryPrefix, options.name)};
    for (const QString& filter : filters) {
        mosquitto_subscribe(mosq.get(), nullptr, filter.toUtf8().constData(), kQos);
    }
    state.quietUntil = QDeadlineTimer(300);
    state.loopUntil(mosq.get(), 5000, [&] {
        return state.subscribed == int(filters.size()) && state.quietUntil.hasExpired();
    });
    QSet<QString> topics = state.retained;
    for (const QList<Message>& messages :
         {stateMessages(options.name, 0, false), discoveryMessages(identity)}) {
        for (const Message& message : messages) {
            topics.insert(message.topic);
        }
    }
    topics.insert(statusTopic(options.name));
    for (const QString& topic : topics) {
        int mid = 0;
        if (mosquitto_publish(mosq.get(), &mid, topic.toUtf8().constData(), 0, nullptr, kQos,
                              true) == MOSQ_ERR_SUCCESS) {
            state.unacked.insert(mid);
        }
    }
    const bool cleared =
        state.loopUntil(mosq.get(), 10000, [&] { return state.unacked.isEmpty(); });
    mosquitto_disconnect(mosq.get());
    if (!cleared) {
        log << QStringLiteral("MQTT: Der Broker %1 hat das Löschen nicht bestätigt.").arg(where)
            << Qt::endl;
        return false;
    }
    log << QStringLiteral("MQTT: »%1« beim Broker %2 vergessen (%3 gespeicherte Nachrichten "
                          "gelöscht).")
               .arg(options.name, where)
               .arg(state.retained.size())
        << Qt::endl;
    return true;
}

} // namespace relais::mqtt
