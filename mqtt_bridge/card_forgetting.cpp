#include "card_forgetting.h"

#include "broker_client.h"
#include "mqtt_topics.h"

#include <QDeadlineTimer>
#include <QSet>

#include <mosquitto.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

namespace relais::mqtt {

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

using Client = std::unique_ptr<mosquitto, void (*)(mosquitto*)>;

// A connection to the broker for `state`, logged in; none, with a line
// saying why, when that fails.
Client connectToForget(const BridgeOptions& options, Forgetting& state, QTextStream& log) {
    Client mosq(mosquitto_new(nullptr, true, &state), mosquitto_destroy);
    if (!mosq) {
        log << clientFailedLine(errno) << Qt::endl;
        return Client(nullptr, mosquitto_destroy);
    }
    if (const auto error = configureClient(mosq.get(), options)) {
        log << *error << Qt::endl;
        return Client(nullptr, mosquitto_destroy);
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
        const QString why =
            rc == MOSQ_ERR_SUCCESS ? QStringLiteral("keine Antwort") : connectFailure(rc, errno);
        log << QStringLiteral("MQTT: Broker %1 nicht erreichbar (%2).")
                   .arg(brokerAddress(options), why)
            << Qt::endl;
        return Client(nullptr, mosquitto_destroy);
    }
    if (state.connack != 0) {
        log << loginRefusedLine(options, state.connack) << Qt::endl;
        return Client(nullptr, mosquitto_destroy);
    }
    return mosq;
}

} // namespace

bool forgetCard(const BridgeOptions& options, QTextStream& log) {
    initBrokerLibrary();
    const QString where = brokerAddress(options);
    Forgetting state;
    const Client mosq = connectToForget(options, state, log);
    if (!mosq) {
        return false;
    }
    // What the broker keeps of this card, found by asking for it; and what
    // the program publishes, in case the broker held back some of it.
    const Identity identity{options.name, options.discoveryPrefix, QString()};
    const QStringList filters{baseTopic(options.name) + QLatin1Char('#'),
                              discoveryFilter(options.discoveryPrefix, options.name)};
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
