#include "schedule_runner.h"

#include "private_file.h"
#include "relay_command.h"
#include "schedule_preview.h"
#include "wall_time.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

namespace relais {

namespace {

constexpr qint64 kLookAheadMs = 8LL * 24 * 3600 * 1000;

QString hhmm(qint64 utcMs, const QTimeZone& zone) {
    return wallTimeOf(utcMs, zone).toString(QStringLiteral("HH:mm"));
}

} // namespace

ScheduleRunner::ScheduleRunner(RelayOperations& relays, const RelayRules& rules,
                               Schedules schedules, ScheduleClock& clock, QString statePath,
                               qint64 builtAtMs, std::function<void(const QString&)> say,
                               QObject* parent)
    : QObject(parent), relays_(relays), rules_(rules), schedules_(std::move(schedules)),
      clock_(clock), statePath_(std::move(statePath)), builtAtMs_(builtAtMs), say_(std::move(say)) {
    QFile file(statePath_);
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonObject saved = QJsonDocument::fromJson(file.read(4096)).object();
        doneUntil_ = saved.value(QStringLiteral("done_until")).toInteger(0);
        paused_ = saved.value(QStringLiteral("paused")).toBool(false);
    }
    relays_.watch(this, [this](const RelayChange& change) { handChange(change); });
    clock_.whenClockSet([this] { clockSet(); });
}

void ScheduleRunner::begin() {
    if (schedules_.entries.isEmpty()) {
        return;
    }
    if (paused_) {
        say_(QStringLiteral("Zeitpläne pausiert"));
    }
    runDue(true);
    relays_.scheduleMoved(); // the watchers know from the start whether they are paused
}

void ScheduleRunner::clockSet() {
    runDue(true);
}

bool ScheduleRunner::clockRight(qint64 now) {
    if (now >= builtAtMs_) {
        clockWasWrong_ = false;
        return true;
    }
    if (!clockWasWrong_) {
        say_(QStringLiteral("Die Uhr zeigt %1, vor dem Bau dieses Programms: Zeitpläne ruhen, "
                            "bis sie stimmt")
                 .arg(QDateTime::fromMSecsSinceEpoch(now).toString(
                     QStringLiteral("dd.MM.yyyy HH:mm"))));
        clockWasWrong_ = true;
    }
    clock_.alarmAt(builtAtMs_, [this] { runDue(true); });
    return false;
}

// What came due since the last run: events after the instant up to which
// all was done, window edges after the last run. `catchUp` after a start,
// a set clock or a resume: windows then apply what they say for now.
void ScheduleRunner::runDue(bool catchUp) {
    const qint64 now = clock_.wallNow();
    if (!clockRight(now)) {
        return;
    }
    if (paused_) {
        doneUntil_ = std::max(doneUntil_, now);
        lastRun_ = now;
        save();
        refreshPlan();
        return;
    }
    bool missedEdge = false;
    const qint64 from = lastRun_ > 0 ? std::min(lastRun_, doneUntil_) : doneUntil_;
    if (from > 0 && now > from) {
        for (const Occurrence& o : occurrencesBetween(schedules_, from, now)) {
            const bool isEvent = o.edge == Occurrence::Edge::Event;
            if (!o.fires || o.atMs <= (isEvent ? doneUntil_ : lastRun_)) {
                continue;
            }
            if (isEvent || now - o.atMs <= kOnTimeMs) {
                runOccurrence(o, now);
            } else {
                missedEdge = true;
            }
        }
    }
    doneUntil_ = std::max(doneUntil_, now);
    lastRun_ = now;
    if (catchUp || missedEdge) {
        applyWindows(now);
    }
    save();
    arm();
    refreshPlan();
}

// An occurrence as planned: an event late by more than its catch-up limit
// is skipped and said; a relay held by hand past a window's edge stays.
void ScheduleRunner::runOccurrence(const Occurrence& o, qint64 now) {
    const ScheduleEntry& entry = schedules_.entries[o.entry];
    const qint64 late = now - o.atMs;
    QString note;
    if (late > kOnTimeMs) {
        if (late >= entry.eventCatchUpMs) {
            say_(QStringLiteral("Zeitplan %1: fällig %2, verpasst")
                     .arg(entry.name, hhmm(o.atMs, entry.zone)));
            return;
        }
        note = QStringLiteral("nachgeholt, fällig %1").arg(hhmm(o.atMs, entry.zone));
    }
    for (const PlannedSwitch& s : switchesOf(schedules_, o)) {
        if (entry.isWindow) {
            if (heldUntil_[s.relay - 1] > o.atMs) {
                continue;
            }
            heldUntil_[s.relay - 1] = 0;
        }
        switch (s.action) {
        case ScheduleEntry::Action::On:
        case ScheduleEntry::Action::Off:
            command(RelayCommand::setRelay(s.relay, s.action == ScheduleEntry::Action::On), entry,
                    note);
            break;
        case ScheduleEntry::Action::Toggle:
            command(RelayCommand::toggleRelay(s.relay), entry, note);
            break;
        case ScheduleEntry::Action::Pulse:
            command(RelayCommand::pulse(s.relay, entry.pulseMs), entry, note);
            break;
        }
        if (note.isEmpty()) {
            emit switched(o, s.relay);
        }
    }
}

// Every relay a window covers, as the windows say for now; the entry
// that says so gives the source.
void ScheduleRunner::applyWindows(qint64 now) {
    const quint16 pattern = relays_.state().pattern;
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        if (!relayHasWindow(schedules_, relay) || heldUntil_[relay - 1] > now) {
            continue;
        }
        const int holding = windowHolding(schedules_, relay, now);
        const bool on = holding >= 0;
        if (bool(pattern & relayWeight(relay)) == on) {
            continue;
        }
        // Off: the entry whose window ended last for this relay.
        int index = holding;
        qint64 due = 0;
        for (const Occurrence& o : occurrencesBetween(schedules_, now - kLookAheadMs, now)) {
            const ScheduleEntry& e = schedules_.entries[o.entry];
            if (o.fires && e.isWindow && (e.relays & relayWeight(relay)) &&
                (on ? o.entry == holding && o.edge == Occurrence::Edge::WindowStart
                    : o.edge == Occurrence::Edge::WindowEnd)) {
                index = o.entry;
                due = o.atMs;
            }
        }
        if (index < 0 || !schedules_.entries[index].windowCatchUp) {
            continue;
        }
        const ScheduleEntry& entry = schedules_.entries[index];
        command(RelayCommand::setRelay(relay, on), entry,
                due > 0 ? QStringLiteral("nachgeholt, fällig %1").arg(hhmm(due, entry.zone))
                        : QString());
    }
}

void ScheduleRunner::command(const RelayCommand::Made& made, const ScheduleEntry& entry,
                             const QString& note) {
    const QString detail = note.isEmpty() ? entry.name : entry.name + QStringLiteral(", ") + note;
    running_ = true;
    carryOut(
        relays_, made, [] { return QStringList(); },
        ChangeSource{ChangeSource::Kind::Schedule, detail});
    running_ = false;
}

// A relay switched by anyone else against its window keeps its state
// until the window's next edge.
void ScheduleRunner::handChange(const RelayChange& change) {
    if (running_ || change.flipped == 0 || change.source.kind == ChangeSource::Kind::Schedule) {
        return;
    }
    const qint64 now = clock_.wallNow();
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        if (!(change.flipped & relayWeight(relay)) || !relayHasWindow(schedules_, relay)) {
            continue;
        }
        const bool on = change.state.pattern & relayWeight(relay);
        const auto edge = nextWindowEdge(schedules_, relay, now);
        if (on == (windowHolding(schedules_, relay, now) >= 0) || !edge) {
            heldUntil_[relay - 1] = 0;
            continue;
        }
        heldUntil_[relay - 1] = *edge;
        // A rule's own change (a maximum on-time, an interlock) holds as
        // well, but was no hand: its record names it already.
        using Kind = ChangeSource::Kind;
        const Kind kind = change.source.kind;
        if (kind == Kind::PulseEnd || kind == Kind::MaxOn || kind == Kind::Interlock ||
            kind == Kind::Line || kind == Kind::StartUp) {
            continue;
        }
        const int first = windowHolding(schedules_, relay, now);
        const QTimeZone zone =
            first >= 0 ? schedules_.entries[first].zone : QTimeZone::systemTimeZone();
        say_(QStringLiteral("%1 von Hand bis %2").arg(rules_.label(relay), hhmm(*edge, zone)));
    }
    refreshPlan();
}

// (The record says who paused, as for any change through the core.)
void ScheduleRunner::setPaused(bool paused) {
    if (paused == paused_) {
        return;
    }
    paused_ = paused;
    doneUntil_ = std::max(doneUntil_, clock_.wallNow()); // missed events are not made up
    if (paused) {
        save();
        clock_.alarmAt(clock_.wallNow() + 10 * 365 * kLookAheadMs / 8, [] {});
        refreshPlan();
    } else {
        // After the command that resumed: what the windows then switch is
        // the schedules' own change, not the resumer's.
        QMetaObject::invokeMethod(
            this, [this] { runDue(true); }, Qt::QueuedConnection);
    }
}

quint16 ScheduleRunner::scheduledRelays() const {
    quint16 relays = 0;
    for (const ScheduleEntry& entry : schedules_.entries) {
        relays |= entry.relays;
    }
    return relays;
}

QJsonArray ScheduleRunner::coming(int days) const {
    return previewJson(previewRows(schedules_, rules_, clock_.wallNow(), days), schedules_, rules_);
}

void ScheduleRunner::refreshPlan() {
    nextSwitch_.fill(0);
    if (!paused_) {
        const qint64 now = clock_.wallNow();
        for (const Occurrence& o : occurrencesBetween(schedules_, now, now + kLookAheadMs)) {
            if (!o.fires) {
                continue;
            }
            for (const PlannedSwitch& s : switchesOf(schedules_, o)) {
                qint64& next = nextSwitch_[s.relay - 1];
                next = next == 0 ? o.atMs : next;
            }
        }
    }
    // Told once the change underway is told (this may run inside one).
    if (!tellPending_) {
        tellPending_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                tellPending_ = false;
                relays_.scheduleMoved();
            },
            Qt::QueuedConnection);
    }
}

// The alarm for the next window edge from now, or the next event after
// what is done (later, if the clock went back).
void ScheduleRunner::arm() {
    const qint64 now = clock_.wallNow();
    const qint64 horizon = std::max(now, doneUntil_) + kLookAheadMs;
    qint64 next = horizon;
    for (const Occurrence& o : occurrencesBetween(schedules_, now, horizon)) {
        if (o.fires && o.atMs > (o.edge == Occurrence::Edge::Event ? doneUntil_ : now)) {
            next = o.atMs;
            break;
        }
    }
    clock_.alarmAt(next, [this] { runDue(false); });
}

void ScheduleRunner::save() {
    if (statePath_.isEmpty()) {
        return;
    }
    QDir().mkpath(QFileInfo(statePath_).path());
    const QJsonObject object{{QStringLiteral("done_until"), double(doneUntil_)},
                             {QStringLiteral("paused"), paused_}};
    if (const auto failed =
            writePrivateFile(statePath_, QJsonDocument(object).toJson(QJsonDocument::Compact))) {
        say_(QStringLiteral("Zeitpläne: %1").arg(*failed));
    }
}

} // namespace relais
