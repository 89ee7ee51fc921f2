#include "change_record.h"

namespace relais {

ChangeRecord::ChangeRecord(const RelayRules& rules, std::function<void(const QString&)> write,
                           std::function<qint64()> now)
    : rules_(rules), write_(std::move(write)), now_(std::move(now)) {}

QStringList ChangeRecord::linesFor(const RelayChange& change, const RelayRules& rules) {
    QStringList lines;
    const QString why = QStringLiteral(" (%1)").arg(change.source.text());
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        if (change.flipped & relayWeight(relay)) {
            const bool on = change.state.pattern & relayWeight(relay);
            lines << rules.label(relay) + (on ? QStringLiteral(" an") : QStringLiteral(" aus")) +
                         why;
        }
    }
    // (Paused at a start, the schedules say so themselves: no one did it.)
    if (change.pausedChanged && change.source.kind != ChangeSource::Kind::Schedule) {
        lines << (change.state.schedulesPaused ? QStringLiteral("Zeitpläne pausiert")
                                               : QStringLiteral("Zeitpläne laufen wieder")) +
                     why;
    }
    if (change.linkChanged || change.portChanged) {
        lines << (change.state.running
                      ? QStringLiteral("Verbindung läuft auf %1").arg(change.state.port)
                      : QStringLiteral("Verbindung gestoppt")) +
                     why;
    }
    return lines;
}

void ChangeRecord::changed(const RelayChange& change) {
    for (const QString& line : linesFor(change, rules_)) {
        say(line);
    }
}

void ChangeRecord::refused(const Refusal& refusal, const ChangeSource& source) {
    say(QStringLiteral("abgelehnt: %1 (%2)").arg(refusal.text, source.text()));
}

void ChangeRecord::say(const QString& line) {
    const qint64 now = now_();
    if (windowStart_ < 0 || now - windowStart_ >= 1000) {
        if (untold_ > 0) {
            write_(QStringLiteral("… und %1 weitere Änderungen").arg(untold_));
        }
        windowStart_ = now;
        saidInWindow_ = 0;
        untold_ = 0;
    }
    if (++saidInWindow_ <= kLinesPerSecond) {
        write_(line);
    } else {
        ++untold_;
    }
}

} // namespace relais
