#include "schedule_reader.h"

#include "durations.h"
#include "settings_lines.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

namespace relais {

namespace {

const QStringList& dayNames() {
    static const QStringList names{"Mo", "Di", "Mi", "Do", "Fr", "Sa", "So"};
    return names;
}

// "Mo-Fr", "Sa,So", "Fr-Mo" (across the week's end).
std::optional<quint8> readDays(const QString& value) {
    quint8 days = 0;
    for (const QString& part : value.split(QLatin1Char(','))) {
        const QStringList ends = part.trimmed().split(QLatin1Char('-'));
        const qsizetype first = dayNames().indexOf(ends.first().trimmed());
        const qsizetype last = dayNames().indexOf(ends.last().trimmed());
        if (ends.size() > 2 || first < 0 || last < 0) {
            return std::nullopt;
        }
        for (qsizetype d = first;; d = (d + 1) % 7) {
            days |= quint8(1 << d);
            if (d == last) {
                break;
            }
        }
    }
    return days;
}

std::optional<QTime> readClock(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^(\\d\\d):(\\d\\d)(?::(\\d\\d))?$"));
    const auto m = form.match(text);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    const QTime time(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    return time.isValid() ? std::optional<QTime>(time) : std::nullopt;
}

// "06:30", "06:30:15", "sunset", "sunrise-00:30", "sunset+00:15".
std::optional<DayTime> readDayTime(const QString& text) {
    static const QRegularExpression sun(
        QStringLiteral("^(sunrise|sunset)(?:([+-])(\\d\\d):(\\d\\d))?$"));
    if (const auto m = sun.match(text); m.hasMatch()) {
        DayTime t;
        t.kind = m.captured(1) == QLatin1String("sunrise") ? DayTime::Kind::Sunrise
                                                           : DayTime::Kind::Sunset;
        t.offsetSecs = (m.captured(3).toInt() * 3600 + m.captured(4).toInt() * 60) *
                       (m.captured(2) == QLatin1String("-") ? -1 : 1);
        return m.captured(4).toInt() < 60 ? std::optional<DayTime>(t) : std::nullopt;
    }
    const auto clock = readClock(text);
    return clock ? std::optional<DayTime>(DayTime{DayTime::Kind::Clock, *clock, 0}) : std::nullopt;
}

std::optional<QString> readWindow(ScheduleEntry& entry, const QString& value) {
    const QStringList ends = value.split(QLatin1Char('-'));
    // "sunrise-00:30-08:00" has a minus of its own: split at the dash
    // between the two times.
    for (int cut = 1; cut < ends.size(); ++cut) {
        const auto start = readDayTime(ends.mid(0, cut).join(QLatin1Char('-')).trimmed());
        const auto end = readDayTime(ends.mid(cut).join(QLatin1Char('-')).trimmed());
        if (start && end) {
            if (start->kind == end->kind && start->clock == end->clock &&
                start->offsetSecs == end->offsetSecs) {
                return QStringLiteral("Anfang und Ende des Fensters sind gleich");
            }
            entry.isWindow = true;
            entry.start = *start;
            entry.end = *end;
            return std::nullopt;
        }
    }
    return QStringLiteral("ungültiges Fenster »%1« (so etwa: 06:30-07:15, sunset-23:00)")
        .arg(value);
}

std::optional<QString> readAction(ScheduleEntry& entry, const QString& value) {
    static const QHash<QString, ScheduleEntry::Action> plain{
        {"on", ScheduleEntry::Action::On},
        {"off", ScheduleEntry::Action::Off},
        {"toggle", ScheduleEntry::Action::Toggle}};
    if (plain.contains(value)) {
        entry.action = plain.value(value);
        return std::nullopt;
    }
    if (value.startsWith(QLatin1String("pulse "))) {
        if (const auto ms = parseDuration(value.mid(6).trimmed())) {
            entry.action = ScheduleEntry::Action::Pulse;
            entry.pulseMs = *ms;
            return std::nullopt;
        }
    }
    return QStringLiteral("action ist on, off, toggle oder pulse DAUER, nicht »%1«").arg(value);
}

std::optional<QString> readDate(QDate& into, const QString& value) {
    into = QDate::fromString(value, Qt::ISODate);
    return into.isValid()
               ? std::nullopt
               : std::optional<QString>(
                     QStringLiteral("ungültiges Datum »%1« (so: 2026-05-01)").arg(value));
}

std::optional<QString> readCatchUp(ScheduleEntry& entry, const QString& value, QString& raw) {
    raw = value;
    if (value == QLatin1String("no") || value == QLatin1String("yes")) {
        return std::nullopt;
    }
    if (const auto ms = parseDuration(value)) {
        entry.eventCatchUpMs = *ms;
        return std::nullopt;
    }
    return QStringLiteral("catch_up ist yes, no oder eine Dauer, nicht »%1«").arg(value);
}

// An entry as written, checked once its section is complete.
struct Pending {
    ScheduleEntry entry;
    QString relays, at, action, catchUp;
    bool daysGiven = false;
};

std::optional<QString> readKey(Pending& p, const QString& key, const QString& value) {
    ScheduleEntry& e = p.entry;
    if (key == QLatin1String("relays")) {
        p.relays = value;
    } else if (key == QLatin1String("days")) {
        const auto days = readDays(value);
        if (!days) {
            return QStringLiteral("unbekannte Tage »%1« (Mo bis So, so etwa: Mo-Fr, Sa,So)")
                .arg(value);
        }
        e.days = *days;
    } else if (key == QLatin1String("window")) {
        return readWindow(e, value);
    } else if (key == QLatin1String("at")) {
        const auto at = readDayTime(value);
        if (!at) {
            return QStringLiteral("ungültige Zeit »%1« (so etwa: 06:30, 06:30:15, sunset+00:15)")
                .arg(value);
        }
        e.start = *at;
        p.at = value;
    } else if (key == QLatin1String("action")) {
        p.action = value;
        return readAction(e, value);
    } else if (key == QLatin1String("zone")) {
        e.zone = QTimeZone(value.toUtf8());
        if (!e.zone.isValid()) {
            return QStringLiteral("unbekannte Zeitzone »%1«").arg(value);
        }
    } else if (key == QLatin1String("from")) {
        return readDate(e.from, value);
    } else if (key == QLatin1String("until")) {
        return readDate(e.until, value);
    } else if (key == QLatin1String("catch_up")) {
        return readCatchUp(e, value, p.catchUp);
    } else {
        return QStringLiteral("unbekannter Schlüssel »%1«").arg(key);
    }
    return std::nullopt;
}

// The section's keys together: a window or an event, its relays.
std::optional<QString> complete(Pending& p, const RelayRules& rules, const Location& place) {
    ScheduleEntry& e = p.entry;
    const QString head = QStringLiteral("[schedule.%1] ").arg(e.name);
    if (e.isWindow == !p.at.isEmpty()) {
        return head + QStringLiteral("braucht entweder window oder at");
    }
    if (!e.isWindow && p.action.isEmpty()) {
        return head + QStringLiteral("braucht action");
    }
    if (e.isWindow && !p.action.isEmpty()) {
        return head + QStringLiteral("ein Fenster hat keine action");
    }
    if (e.isWindow && p.catchUp != QLatin1String("no") && !p.catchUp.isEmpty() &&
        p.catchUp != QLatin1String("yes")) {
        return head + QStringLiteral("catch_up eines Fensters ist yes oder no");
    }
    if (!e.isWindow && p.catchUp == QLatin1String("yes")) {
        return head + QStringLiteral("catch_up eines Ereignisses ist no oder eine Dauer");
    }
    e.windowCatchUp = p.catchUp != QLatin1String("no");
    const bool sun =
        e.start.kind != DayTime::Kind::Clock || (e.isWindow && e.end.kind != DayTime::Kind::Clock);
    if (sun && !place.given) {
        return head + QStringLiteral("Sonnenzeiten brauchen [location] latitude und longitude");
    }
    if (e.from.isValid() && e.until.isValid() && e.until < e.from) {
        return head + QStringLiteral("until liegt vor from");
    }
    for (const QString& written : p.relays.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const int relay = rules.relayNamed(written.trimmed());
        if (relay == 0) {
            return QStringLiteral("unbekanntes Relais »%1«").arg(written.trimmed());
        }
        e.relays |= quint16(relayWeight(relay));
    }
    if (e.relays == 0) {
        return head + QStringLiteral("braucht relays");
    }
    return std::nullopt;
}

std::optional<QString> readLocation(Location& place, const QString& key, const QString& value) {
    bool ok = false;
    const double number = value.toDouble(&ok);
    const double limit = key == QLatin1String("latitude") ? 90 : 180;
    if (key != QLatin1String("latitude") && key != QLatin1String("longitude")) {
        return QStringLiteral("unbekannter Schlüssel »%1«").arg(key);
    }
    if (!ok || number < -limit || number > limit) {
        return QStringLiteral("%1 ist eine Zahl von %2 bis %3, nicht »%4«")
            .arg(key)
            .arg(-limit)
            .arg(limit)
            .arg(value);
    }
    (key == QLatin1String("latitude") ? place.latitude : place.longitude) = number;
    place.given = true;
    return std::nullopt;
}

std::optional<SettingFault> readLines(const QList<QByteArray>& lines, Schedules& schedules,
                                      QList<Pending>& pending) {
    static const QRegularExpression scheduleSection(QStringLiteral("^schedule\\.(.+)$"));
    return readSettingLines(lines, [&](const SettingLine& line) -> std::optional<QString> {
        const auto m = scheduleSection.match(line.section);
        if (line.header) {
            if (m.hasMatch()) {
                ScheduleEntry entry;
                entry.name = m.captured(1);
                entry.line = line.number;
                entry.zone = QTimeZone::systemTimeZone();
                pending.append({entry, {}, {}, {}, {}, false});
            }
            return std::nullopt;
        }
        const bool location = line.section == QLatin1String("location");
        if (!m.hasMatch() && !location) {
            return std::nullopt;
        }
        if (!line.hasValue) {
            return kExpectedKeyValue;
        }
        return location ? readLocation(schedules.location, line.key, line.value)
                        : readKey(pending.last(), line.key, line.value);
    });
}

} // namespace

std::variant<Schedules, QString> readSchedules(const QString& path, const RelayRules& rules) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("Einstellungsdatei »%1« nicht lesbar.").arg(path);
    }
    Schedules schedules;
    schedules.file = path;
    QList<Pending> pending;
    std::optional<SettingFault> fault = readLines(file.readAll().split('\n'), schedules, pending);
    for (int i = 0; !fault && i < pending.size(); ++i) {
        if (const auto wrong = complete(pending[i], rules, schedules.location)) {
            fault = SettingFault{pending[i].entry.line, *wrong};
        }
        schedules.entries.append(pending[i].entry);
    }
    if (fault) {
        return QStringLiteral("%1, Zeile %2: %3.").arg(path).arg(fault->line).arg(fault->text);
    }
    return schedules;
}

} // namespace relais
