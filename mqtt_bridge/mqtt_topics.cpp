#include "mqtt_topics.h"

#include "durations.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

namespace relais::mqtt {

namespace {

constexpr int kRelays = 16;

QByteArray onOff(bool on) {
    return on ? QByteArrayLiteral("ON") : QByteArrayLiteral("OFF");
}

Command invalid(const QString& why) {
    Command c;
    c.error = why;
    return c;
}

} // namespace

QString baseTopic(const QString& name) {
    return QStringLiteral("relaiskarte/%1/").arg(name);
}
QString statusTopic(const QString& name) {
    return baseTopic(name) + QStringLiteral("status");
}
QString linkErrorTopic(const QString& name) {
    return baseTopic(name) + QStringLiteral("link/error");
}
QStringList commandFilters(const QString& name) {
    const QString base = baseTopic(name);
    return {base + QStringLiteral("relay/+/set"), base + QStringLiteral("relay/+/pulse"),
            base + QStringLiteral("relays/set"), base + QStringLiteral("link/set"),
            base + QStringLiteral("schedules/set")};
}

QList<Message> scheduleMessages(const QString& name, bool paused,
                                const std::array<qint64, 16>& nextSwitch) {
    const QString base = baseTopic(name);
    QList<Message> messages{{base + QStringLiteral("schedules"), onOff(!paused)}};
    for (int k = 1; k <= kRelays; ++k) {
        const qint64 at = nextSwitch[k - 1];
        messages.append({base + QStringLiteral("relay/%1/next").arg(k),
                         at == 0 ? QByteArrayLiteral("None")
                                 : QDateTime::fromMSecsSinceEpoch(at, QTimeZone::utc())
                                       .toString(Qt::ISODate)
                                       .toUtf8()});
    }
    return messages;
}

QList<Message> stateMessages(const QString& name, quint16 relays, bool running) {
    const QString base = baseTopic(name);
    QList<Message> messages;
    for (int k = 1; k <= kRelays; ++k) {
        messages.append(
            {base + QStringLiteral("relay/%1").arg(k), onOff(relays & (1u << (k - 1)))});
    }
    messages.append({base + QStringLiteral("relays"), QByteArray::number(relays)});
    messages.append({base + QStringLiteral("link"),
                     running ? QByteArrayLiteral("running") : QByteArrayLiteral("stopped")});
    return messages;
}

QString linkConfigTopic(const Identity& id) {
    return QStringLiteral("%1/switch/relaiskarte_%2/link/config").arg(id.discoveryPrefix, id.name);
}
QString formerLinkConfigTopic(const Identity& id) {
    return QStringLiteral("%1/binary_sensor/relaiskarte_%2/link/config")
        .arg(id.discoveryPrefix, id.name);
}

// "Zeitpläne", a switch; a timestamp sensor per scheduled relay. Empty
// configs where there is nothing: Home Assistant drops what was there.
template <typename Common>
void appendScheduleConfigs(QList<Message>& messages, const Identity& id, const QString& node,
                           const Common& common) {
    const QString base = baseTopic(id.name);
    messages.append(
        {QStringLiteral("%1/switch/%2/schedules/config").arg(id.discoveryPrefix, node),
         !id.schedules
             ? QByteArray()
             : common({
                   {QStringLiteral("name"), QStringLiteral("Zeitpläne")},
                   {QStringLiteral("unique_id"), node + QStringLiteral("_schedules")},
                   {QStringLiteral("state_topic"), base + QStringLiteral("schedules")},
                   {QStringLiteral("command_topic"), base + QStringLiteral("schedules/set")},
                   {QStringLiteral("payload_on"), QStringLiteral("ON")},
                   {QStringLiteral("payload_off"), QStringLiteral("OFF")},
                   {QStringLiteral("entity_category"), QStringLiteral("config")},
               })});
    for (int k = 1; k <= kRelays; ++k) {
        const QString name =
            id.names[k - 1].isEmpty() ? QStringLiteral("Relais %1").arg(k) : id.names[k - 1];
        const bool scheduled = id.schedules && (id.scheduledRelays & (1u << (k - 1)));
        messages.append(
            {QStringLiteral("%1/sensor/%2/relay%3_next/config")
                 .arg(id.discoveryPrefix, node)
                 .arg(k),
             !scheduled
                 ? QByteArray()
                 : common({
                       {QStringLiteral("name"), QStringLiteral("%1 nächste Schaltung").arg(name)},
                       {QStringLiteral("unique_id"),
                        QStringLiteral("%1_relay%2_next").arg(node).arg(k)},
                       {QStringLiteral("state_topic"),
                        base + QStringLiteral("relay/%1/next").arg(k)},
                       {QStringLiteral("device_class"), QStringLiteral("timestamp")},
                   })});
    }
}

QList<Message> discoveryMessages(const Identity& id) {
    if (id.discoveryPrefix.isEmpty()) {
        return {};
    }
    const QString base = baseTopic(id.name);
    const QString node = QStringLiteral("relaiskarte_") + id.name;
    const QJsonObject device{
        {QStringLiteral("identifiers"), QJsonArray{node}},
        {QStringLiteral("name"), QStringLiteral("Relaiskarte ") + id.name},
        {QStringLiteral("manufacturer"), QStringLiteral("Korvander")},
        {QStringLiteral("model"), QStringLiteral("Relaiskarte 16 (C-Control II)")},
        {QStringLiteral("sw_version"), id.version},
    };
    const QJsonObject origin{{QStringLiteral("name"), QStringLiteral("relaiskarte")},
                             {QStringLiteral("sw_version"), id.version}};
    const auto available = [](const QString& topic, const char* yes, const char* no) {
        return QJsonObject{{QStringLiteral("topic"), topic},
                           {QStringLiteral("payload_available"), QLatin1String(yes)},
                           {QStringLiteral("payload_not_available"), QLatin1String(no)}};
    };
    const QJsonObject online = available(statusTopic(id.name), "online", "offline");
    const auto common = [&](QJsonObject config) {
        if (!config.contains(QStringLiteral("availability"))) {
            config.insert(QStringLiteral("availability"), QJsonArray{online});
        }
        config.insert(QStringLiteral("qos"), 1);
        config.insert(QStringLiteral("device"), device);
        config.insert(QStringLiteral("origin"), origin);
        return QJsonDocument(config).toJson(QJsonDocument::Compact);
    };
    // A relay is switchable only while the card hears it: the program is
    // online and the link runs.
    const QJsonArray relayAvailability{
        online, available(base + QStringLiteral("link"), "running", "stopped")};
    QList<Message> messages;
    for (int k = 1; k <= kRelays; ++k) {
        const QString relay = base + QStringLiteral("relay/%1").arg(k);
        const QString name =
            id.names[k - 1].isEmpty() ? QStringLiteral("Relais %1").arg(k) : id.names[k - 1];
        // A button for a relay with a pulse length; none (an empty config) for the others.
        messages.append(
            {QStringLiteral("%1/button/%2/relay%3_pulse/config")
                 .arg(id.discoveryPrefix, node)
                 .arg(k),
             id.pulseMs[k - 1] <= 0
                 ? QByteArray()
                 : common({
                       {QStringLiteral("name"), QStringLiteral("%1 Impuls").arg(name)},
                       {QStringLiteral("unique_id"),
                        QStringLiteral("%1_relay%2_pulse").arg(node).arg(k)},
                       {QStringLiteral("command_topic"), relay + QStringLiteral("/pulse")},
                       {QStringLiteral("payload_press"), QString()},
                       {QStringLiteral("availability"), relayAvailability},
                       {QStringLiteral("availability_mode"), QStringLiteral("all")},
                   })});
        messages.append(
            {QStringLiteral("%1/switch/%2/relay%3/config").arg(id.discoveryPrefix, node).arg(k),
             common({
                 {QStringLiteral("name"), name},
                 {QStringLiteral("unique_id"), QStringLiteral("%1_relay%2").arg(node).arg(k)},
                 {QStringLiteral("state_topic"), relay},
                 {QStringLiteral("command_topic"), relay + QStringLiteral("/set")},
                 {QStringLiteral("payload_on"), QStringLiteral("ON")},
                 {QStringLiteral("payload_off"), QStringLiteral("OFF")},
                 {QStringLiteral("state_on"), QStringLiteral("ON")},
                 {QStringLiteral("state_off"), QStringLiteral("OFF")},
                 {QStringLiteral("availability"), relayAvailability},
                 {QStringLiteral("availability_mode"), QStringLiteral("all")},
             })});
    }
    messages.append({linkConfigTopic(id),
                     common({
                         {QStringLiteral("name"), QStringLiteral("Verbindung")},
                         {QStringLiteral("unique_id"), node + QStringLiteral("_link")},
                         {QStringLiteral("state_topic"), base + QStringLiteral("link")},
                         {QStringLiteral("command_topic"), base + QStringLiteral("link/set")},
                         {QStringLiteral("payload_on"), QStringLiteral("START")},
                         {QStringLiteral("payload_off"), QStringLiteral("STOP")},
                         {QStringLiteral("state_on"), QStringLiteral("running")},
                         {QStringLiteral("state_off"), QStringLiteral("stopped")},
                         {QStringLiteral("entity_category"), QStringLiteral("diagnostic")},
                     })});
    appendScheduleConfigs(messages, id, node, common);
    // The link was a read-only sensor before it became a switch: an empty
    // retained config makes Home Assistant drop that old entity.
    messages.append({formerLinkConfigTopic(id), QByteArray()});
    return messages;
}

// relay/<n>/pulse: a duration, or nothing for the relay's own length.
Command parsePulse(const QString& what, const QString& text) {
    static const QRegularExpression pulseTopic(QStringLiteral("^relay/([1-9][0-9]?)/pulse$"));
    const auto m = pulseTopic.match(what);
    if (!m.hasMatch() || m.captured(1).toInt() > kRelays) {
        return invalid(QStringLiteral("unbekanntes Thema"));
    }
    Command c;
    c.kind = Command::Kind::Pulse;
    c.relay = m.captured(1).toInt();
    if (!text.isEmpty()) {
        const auto ms = parseDuration(text);
        if (!ms) {
            return invalid(QStringLiteral("erwartet eine Dauer wie 500ms oder 2s, oder nichts"));
        }
        c.pulseMs = *ms;
    }
    return c;
}

Command parseCommand(const QString& name, const QString& topic, const QByteArray& payload) {
    const QString base = baseTopic(name);
    const bool pulse = topic.endsWith(QLatin1String("/pulse"));
    if (!topic.startsWith(base) || !(pulse || topic.endsWith(QLatin1String("/set")))) {
        return invalid(QStringLiteral("unbekanntes Thema"));
    }
    if (payload.size() > kMaxPayload) {
        return invalid(QStringLiteral("Nachricht zu lang (%1 Bytes)").arg(payload.size()));
    }
    if (pulse) {
        return parsePulse(topic.mid(base.size()), QString::fromUtf8(payload).trimmed());
    }
    const QString what = topic.mid(base.size(), topic.size() - base.size() - 4);
    const QString text = QString::fromUtf8(payload).trimmed();
    Command c;
    static const QRegularExpression relayTopic(QStringLiteral("^relay/([1-9][0-9]?)$"));
    if (const auto m = relayTopic.match(what); m.hasMatch()) {
        c.relay = m.captured(1).toInt();
        if (c.relay > kRelays) {
            return invalid(QStringLiteral("kein Relais %1").arg(c.relay));
        }
        const QString upper = text.toUpper();
        if (upper == QLatin1String("ON") || upper == QLatin1String("OFF")) {
            c.kind = Command::Kind::SetRelay;
            c.on = upper == QLatin1String("ON");
        } else if (upper == QLatin1String("TOGGLE")) {
            c.kind = Command::Kind::ToggleRelay;
        } else {
            return invalid(QStringLiteral("erwartet ON, OFF oder TOGGLE"));
        }
        return c;
    }
    if (what == QLatin1String("relays")) {
        bool ok = false;
        const uint mask = text.toUInt(&ok);
        if (!ok || mask > 0xFFFFu) {
            return invalid(QStringLiteral("erwartet ein Muster von 0 bis 65535"));
        }
        c.kind = Command::Kind::SetRelays;
        c.mask = quint16(mask);
        return c;
    }
    if (what == QLatin1String("schedules")) {
        const QString upper = text.toUpper();
        if (upper != QLatin1String("ON") && upper != QLatin1String("OFF")) {
            return invalid(QStringLiteral("erwartet ON (laufen) oder OFF (pausiert)"));
        }
        c.kind = Command::Kind::Schedules;
        c.on = upper == QLatin1String("ON");
        return c;
    }
    if (what == QLatin1String("link")) {
        if (text.compare(QLatin1String("STOP"), Qt::CaseInsensitive) == 0) {
            c.kind = Command::Kind::Stop;
        } else if (text.compare(QLatin1String("START"), Qt::CaseInsensitive) == 0) {
            c.kind = Command::Kind::Start; // on the port known: no port named
        } else if (!text.isEmpty()) {
            c.kind = Command::Kind::Start;
            c.port = text;
        } else {
            return invalid(QStringLiteral("erwartet START, STOP oder eine Schnittstelle"));
        }
        return c;
    }
    return invalid(QStringLiteral("unbekanntes Thema"));
}

QString discoveryFilter(const QString& prefix, const QString& name) {
    return QStringLiteral("%1/+/relaiskarte_%2/+/config").arg(prefix, name);
}

std::optional<QString> checkDiscoveryPrefix(const QString& prefix) {
    if (prefix.isEmpty() || prefix.contains(QLatin1Char('+')) ||
        prefix.contains(QLatin1Char('#')) || prefix.startsWith(QLatin1Char('/')) ||
        prefix.endsWith(QLatin1Char('/'))) {
        return QStringLiteral("Ungültiges Präfix der Home-Assistant-Erkennung »%1«: nicht leer, "
                              "ohne + und #, ohne / am Anfang oder Ende.")
            .arg(prefix);
    }
    return std::nullopt;
}

QString topicSafe(const QString& text) {
    QString safe;
    for (const QChar ch : text.toLower()) {
        if ((ch >= QLatin1Char('a') && ch <= QLatin1Char('z')) || ch.isDigit() ||
            ch == QLatin1Char('-') || ch == QLatin1Char('_')) {
            safe += ch;
        } else if (!safe.endsWith(QLatin1Char('-'))) {
            safe += QLatin1Char('-');
        }
    }
    while (safe.startsWith(QLatin1Char('-'))) {
        safe.remove(0, 1);
    }
    while (safe.endsWith(QLatin1Char('-'))) {
        safe.chop(1);
    }
    return safe.isEmpty() ? QStringLiteral("relaiskarte") : safe;
}

} // namespace relais::mqtt
