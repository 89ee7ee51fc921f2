#include "relay_rules.h"

#include "durations.h"
#include "settings_lines.h"

#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace relais {

namespace {

constexpr int kNameLength = 32;

struct PendingGroup {
    InterlockGroup group;
    int line = 0;
    QStringList relays; // as written, resolved once every name is known
    bool modeGiven = false;
};

std::optional<QString> readDuration(const QString& value, qint64& into) {
    const auto ms = parseDuration(value);
    if (!ms) {
        return QStringLiteral("ungültige Dauer »%1« (so etwa: 500ms, 5s, 1.5s, 10min, 2h)")
            .arg(value);
    }
    into = *ms;
    return std::nullopt;
}

std::optional<QString> readRelayKey(RelayRule& rule, const QString& key, const QString& value) {
    if (key == QLatin1String("name")) {
        bool number = false;
        value.toInt(&number);
        if (value.isEmpty() || value.size() > kNameLength || number) {
            return QStringLiteral("Name »%1«: 1 bis %2 Zeichen, keine Zahl")
                .arg(value)
                .arg(kNameLength);
        }
        rule.name = value;
        return std::nullopt;
    }
    if (key == QLatin1String("max_on")) {
        return readDuration(value, rule.maxOnMs);
    }
    if (key == QLatin1String("min_off")) {
        return readDuration(value, rule.minOffMs);
    }
    if (key == QLatin1String("pulse")) {
        return readDuration(value, rule.pulseMs);
    }
    return QStringLiteral("unbekannter Schlüssel »%1«").arg(key);
}

std::optional<QString> readGroupKey(PendingGroup& pending, const QString& key,
                                    const QString& value) {
    if (key == QLatin1String("relays")) {
        pending.relays = value.split(QLatin1Char(','));
        return std::nullopt;
    }
    if (key == QLatin1String("mode")) {
        if (value != QLatin1String("wechseln") && value != QLatin1String("sperren")) {
            return QStringLiteral("mode ist »wechseln« oder »sperren«, nicht »%1«").arg(value);
        }
        pending.group.mode = value == QLatin1String("wechseln") ? InterlockGroup::Mode::SwitchOver
                                                                : InterlockGroup::Mode::Block;
        pending.modeGiven = true;
        return std::nullopt;
    }
    if (key == QLatin1String("dead_time")) {
        return readDuration(value, pending.group.deadTimeMs);
    }
    return QStringLiteral("unbekannter Schlüssel »%1«").arg(key);
}

// The sections' relays by number or name, each in one group at most.
std::optional<SettingFault> resolveGroups(QList<PendingGroup>& pending, RelayRules& rules) {
    for (PendingGroup& p : pending) {
        if (!p.modeGiven) {
            return SettingFault{p.line,
                                QStringLiteral("[interlock.%1] braucht mode").arg(p.group.name)};
        }
        for (const QString& written : p.relays) {
            const int relay = rules.relayNamed(written.trimmed());
            if (relay == 0) {
                return SettingFault{
                    p.line, QStringLiteral("unbekanntes Relais »%1«").arg(written.trimmed())};
            }
            const InterlockGroup* other = rules.groupOf(relay);
            if (other != nullptr || (p.group.members & relayWeight(relay))) {
                return SettingFault{
                    p.line,
                    QStringLiteral("%1 gehört schon zur Gruppe »%2«")
                        .arg(rules.label(relay), other != nullptr ? other->name : p.group.name)};
            }
            p.group.members |= quint16(relayWeight(relay));
        }
        if (qPopulationCount(p.group.members) < 2) {
            return SettingFault{
                p.line,
                QStringLiteral("[interlock.%1] braucht mindestens zwei Relais").arg(p.group.name)};
        }
        rules.groups.append(p.group);
    }
    return std::nullopt;
}

// A [relay.N] section header: the relay, or the fault.
std::variant<int, QString> relayOfSection(const QString& number) {
    bool ok = false;
    const int relay = number.toInt(&ok);
    if (!ok || relay < 1 || relay > kRelayCount) {
        return QStringLiteral("Relais »%1« gibt es nicht: erlaubt sind 1 bis %2")
            .arg(number)
            .arg(kRelayCount);
    }
    return relay;
}

// A key of [relay.N]; a name taken by another relay is a fault.
std::optional<QString> readRelayLine(RelayRules& rules, int relay, const SettingLine& line,
                                     QHash<QString, int>& names) {
    if (const auto fault = readRelayKey(rules.relays[relay - 1], line.key, line.value)) {
        return fault;
    }
    if (line.key == QLatin1String("name")) {
        if (names.contains(line.value) && names.value(line.value) != relay) {
            return QStringLiteral("den Namen »%1« hat schon Relais %2")
                .arg(line.value)
                .arg(names.value(line.value));
        }
        names.insert(line.value, relay);
    }
    return std::nullopt;
}

// Reads the lines; `pending` gets the groups to resolve at the end.
std::optional<SettingFault> readLines(const QList<QByteArray>& lines, RelayRules& rules,
                                      QList<PendingGroup>& pending) {
    static const QRegularExpression relaySection(QStringLiteral("^relay\\.(.*)$"));
    static const QRegularExpression groupSection(QStringLiteral("^interlock\\.(.+)$"));
    QHash<QString, int> names; // name -> relay
    return readSettingLines(lines, [&](const SettingLine& line) -> std::optional<QString> {
        const auto relay = relaySection.match(line.section);
        const auto group = groupSection.match(line.section);
        if (line.header) {
            if (relay.hasMatch()) {
                const auto number = relayOfSection(relay.captured(1));
                return std::holds_alternative<QString>(number)
                           ? std::optional<QString>(std::get<QString>(number))
                           : std::nullopt;
            }
            if (group.hasMatch()) {
                pending.append(PendingGroup{{group.captured(1), 0, InterlockGroup::Mode::Block, 0},
                                            line.number,
                                            {},
                                            false});
            }
            return std::nullopt;
        }
        if ((relay.hasMatch() || group.hasMatch()) && !line.hasValue) {
            return kExpectedKeyValue;
        }
        if (relay.hasMatch()) {
            return readRelayLine(rules, relay.captured(1).toInt(), line, names);
        }
        if (group.hasMatch()) {
            return readGroupKey(pending.last(), line.key, line.value);
        }
        if (line.section == QLatin1String("link") && line.key == QLatin1String("power_on")) {
            rules.powerOnLast = line.value == QLatin1String("last");
            if (line.value != QLatin1String("off") && !rules.powerOnLast) {
                return QStringLiteral("power_on ist »off« oder »last«, nicht »%1«").arg(line.value);
            }
        }
        return std::nullopt;
    });
}

} // namespace

int RelayRules::relayNamed(const QString& text) const {
    bool number = false;
    const int relay = text.toInt(&number);
    if (number) {
        return relay >= 1 && relay <= kRelayCount ? relay : 0;
    }
    for (int k = 1; k <= kRelayCount; ++k) {
        if (!text.isEmpty() && relays[k - 1].name == text) {
            return k;
        }
    }
    return 0;
}

QString RelayRules::label(int relay) const {
    const QString& name = relays.at(relay - 1).name;
    return name.isEmpty() ? QStringLiteral("Relais %1").arg(relay)
                          : QStringLiteral("Relais %1 (%2)").arg(relay).arg(name);
}

const InterlockGroup* RelayRules::groupOf(int relay) const {
    for (const InterlockGroup& group : groups) {
        if (group.members & relayWeight(relay)) {
            return &group;
        }
    }
    return nullptr;
}

bool RelayRules::any() const {
    for (const RelayRule& rule : relays) {
        if (!rule.name.isEmpty() || rule.maxOnMs > 0 || rule.minOffMs > 0 || rule.pulseMs > 0) {
            return true;
        }
    }
    return !groups.isEmpty() || powerOnLast;
}

std::variant<RelayRules, QString> readRelayRules(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("Einstellungsdatei »%1« nicht lesbar.").arg(path);
    }
    RelayRules rules;
    QList<PendingGroup> pending;
    std::optional<SettingFault> fault = readLines(file.readAll().split('\n'), rules, pending);
    if (!fault) {
        fault = resolveGroups(pending, rules);
    }
    if (fault) {
        return QStringLiteral("%1, Zeile %2: %3.").arg(path).arg(fault->line).arg(fault->text);
    }
    return rules;
}

} // namespace relais
