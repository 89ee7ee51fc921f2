#include "mqtt_bridge.h"

#include "broker_client.h"
#include "link_control.h"
#include "messages.h"
#include "relay_command.h"
#include "relay_panel.h"

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

constexpr int kIgnoredLinesPerSecond = 10;

} // namespace

Bridge::Bridge(RelayOperations& relays, BridgeOptions options, QTextStream& log, QObject* parent)
    : QObject(parent), relays_(relays), options_(std::move(options)), log_(log) {
    initBrokerLibrary();
    alive_->bridge = this;
    state_ = relays_.state();
    relays_.watch(this, [this](const RelayChange& change) { schedulePublish(change); });
    ignoreWindow_.start();
}

void Bridge::handOver(void* self, std::function<void()> job) {
    static_cast<Bridge*>(self)->relaysThread_.post(std::move(job));
}

Bridge::~Bridge() {
    {
        const std::lock_guard<std::mutex> lock(alive_->mutex);
        alive_->bridge = nullptr;
    }
    if (mosq_ == nullptr || connecting_) {
        // Still resolving or connecting: never wait for that on the way out.
        // The thread keeps the connection, which ends with the process.
        relaysThread_.end();
        if (connecting_) {
            connector_.detach();
        }
        return;
    }
    if (connector_.joinable()) {
        connector_.join();
    }
    leave(1000); // (its acknowledgement still comes through the hand-over)
    relaysThread_.end();
    if (loopRunning_) {
        mosquitto_loop_stop(mosq_, false);
    }
    mosquitto_destroy(mosq_);
}

bool Bridge::start() {
    const QByteArray id = (QStringLiteral("relaiskarte-") + options_.name).toUtf8();
    mosq_ = mosquitto_new(id.constData(), true, this);
    if (mosq_ == nullptr) {
        say(clientFailedLine(errno));
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
    handOver(self, [self, rc] { static_cast<Bridge*>(self)->connectedNow(rc); });
}

void Bridge::onDisconnect(mosquitto*, void* self, int rc) {
    handOver(self, [self, rc] { static_cast<Bridge*>(self)->disconnectedNow(rc); });
}

void Bridge::onMessage(mosquitto*, void* self, const mosquitto_message* message) {
    const QString topic = QString::fromUtf8(message->topic);
    // Longer payloads are never looked at: keep only enough to say so.
    const QByteArray payload(static_cast<const char*>(message->payload),
                             qMin(message->payloadlen, kMaxPayload + 1));
    const bool retained = message->retain;
    handOver(self, [self, topic, payload, retained] {
        static_cast<Bridge*>(self)->received(topic, payload, retained);
    });
}

void Bridge::onPublish(mosquitto*, void* self, int mid) {
    handOver(self, [self, mid] {
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
        handOver(self, [self, line] {
            static_cast<Bridge*>(self)->giveUp(
                QStringLiteral("MQTT: TLS-Verbindung abgelehnt: %1").arg(line));
        });
    }
}

void Bridge::connectedNow(int rc) {
    if (rc != 0) {
        giveUp(loginRefusedLine(options_, rc));
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
    untoldRelays_ = 0xFFFF;
    untoldLink_ = true;
    Identity identity{options_.name, options_.discoveryPrefix,
                      QCoreApplication::applicationVersion()};
    for (int k = 1; k <= kRelayCount; ++k) {
        identity.names[k - 1] = relays_.rules().relays[k - 1].name;
        identity.pulseMs[k - 1] = relays_.rules().relays[k - 1].pulseMs;
    }
    if (const ScheduleControl* schedules = relays_.schedules()) {
        identity.schedules = true;
        identity.scheduledRelays = schedules->scheduledRelays();
        untoldSchedules_ = true;
    }
    for (const Message& config : discoveryMessages(identity)) {
        publish(config);
    }
    // "online" last: whoever sees it finds every entity described (the
    // broker keeps one client's messages in order).
    publish({statusTopic(options_.name), QByteArrayLiteral("online")});
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
        const QString why = rc < 0 ? connectFailure(MOSQ_ERR_ERRNO, -rc) : connectFailure(rc, 0);
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
    case Command::Kind::Pulse:
        made = RelayCommand::pulse(command.relay, command.pulseMs >= 0
                                                      ? std::optional<qint64>(command.pulseMs)
                                                      : std::nullopt);
        break;
    case Command::Kind::Stop:
        break;
    case Command::Kind::Schedules:
        made = RelayCommand::pauseSchedules(!command.on);
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
        refusal = carryOut(relays_, std::get<RelayCommand>(made),
                           [this] { return ports_.devices(); }, {ChangeSource::Kind::Mqtt, topic});
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

void Bridge::schedulePublish(const RelayChange& change) {
    state_ = change.state;
    untoldRelays_ |= change.flipped;
    untoldLink_ = untoldLink_ || change.linkChanged;
    untoldSchedules_ = untoldSchedules_ || (change.scheduleChanged && relays_.schedules());
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
    // One message per relay, then the pattern, then the link.
    const QList<Message> messages = stateMessages(options_.name, state_.pattern, state_.running);
    quint16 failed = 0;
    for (int k = 1; k <= kRelayCount; ++k) {
        if ((untoldRelays_ & relayWeight(k)) && publish(messages[k - 1]) < 0) {
            failed |= relayWeight(k);
        }
    }
    if (untoldRelays_ != 0 && publish(messages[kRelayCount]) < 0) {
        failed |= 1; // told again with relay 1
    }
    untoldRelays_ = failed;
    if (untoldLink_) {
        untoldLink_ = publish(messages[kRelayCount + 1]) < 0;
    }
    if (untoldSchedules_) {
        untoldSchedules_ = false;
        for (const Message& m :
             scheduleMessages(options_.name, state_.schedulesPaused, state_.nextSwitch)) {
            untoldSchedules_ = publish(m) < 0 || untoldSchedules_;
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

} // namespace relais::mqtt
