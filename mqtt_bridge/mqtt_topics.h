#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <QStringList>
#include <array>

#include <optional>

namespace relais::mqtt {

// Where the bridge lives on the broker and how it presents itself.
struct Identity {
    QString name;            // the device's name in topics
    QString discoveryPrefix; // Home Assistant's, usually "homeassistant"; empty: no discovery
    QString version;         // the program's
    // Each relay's name (empty: "Relais k") and pulse length (0: no button).
    std::array<QString, 16> names{};
    std::array<qint64, 16> pulseMs{};
    // Schedules: a switch to pause them, and each scheduled relay's next
    // switching time as a timestamp sensor.
    bool schedules = false;
    quint16 scheduledRelays = 0;
};

// The topics of one device, under "relaiskarte/<name>/".
QString baseTopic(const QString& name);
QString statusTopic(const QString& name);
QString linkErrorTopic(const QString& name);
// What the bridge subscribes to: the "…/set" topics of its commands.
QStringList commandFilters(const QString& name);

// A message to send; states and discovery configs are retained.
struct Message {
    QString topic;
    QByteArray payload;
    bool retain = true;
};

// The retained states of the relays and the link.
QList<Message> stateMessages(const QString& name, quint16 relays, bool running);
// The schedules' state: "ON" while they run, "OFF" paused; each relay's
// next switching time (ISO 8601, or "None").
QList<Message> scheduleMessages(const QString& name, bool paused,
                                const std::array<qint64, 16>& nextSwitch);
// Home Assistant's discovery configs: sixteen relay switches and the link's
// switch, under the identity's prefix (none without one).
QList<Message> discoveryMessages(const Identity& identity);
QString linkConfigTopic(const Identity& identity);
QString formerLinkConfigTopic(const Identity& identity);

// Whether Home Assistant can read discovery under `prefix`: not empty, no
// wildcard, no '/' at either end. An error text (German) otherwise.
std::optional<QString> checkDiscoveryPrefix(const QString& prefix);

// A command as received; `error` says why one is ignored.
struct Command {
    enum class Kind { SetRelay, ToggleRelay, SetRelays, Pulse, Start, Stop, Schedules, Invalid };
    Kind kind = Kind::Invalid;
    int relay = 0;
    bool on = false;
    quint16 mask = 0;
    qint64 pulseMs = -1; // for Pulse: -1 for the relay's own length
    QString port;        // for Start: the port named, empty for the one known
    QString error;
};
// Longest payload looked at; longer ones are dropped unread.
inline constexpr int kMaxPayload = 256;
Command parseCommand(const QString& name, const QString& topic, const QByteArray& payload);

// What a card's Home Assistant configs are found under.
QString discoveryFilter(const QString& prefix, const QString& name);

// A device name usable in topics: lower case letters, digits, '-' and '_'.
QString topicSafe(const QString& text);

} // namespace relais::mqtt
