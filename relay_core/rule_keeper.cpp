#include "rule_keeper.h"

#include "durations.h"

#include <QStringList>

#include <algorithm>

namespace relais {

namespace {

Refusal conflict(const QString& text) {
    return Refusal{Refusal::Kind::Conflict, text, {}, 0, {}};
}

QList<int> membersIn(quint16 mask) {
    QList<int> relays;
    for (int k = 1; k <= kRelayCount; ++k) {
        if (mask & relayWeight(k)) {
            relays << k;
        }
    }
    return relays;
}

} // namespace

RuleKeeper::RuleKeeper(RelayRules rules)
    : rules_(std::move(rules)), clearSince_(rules_.groups.size(), kLongAgo),
      offOnItsWay_(rules_.groups.size(), false), waiting_(rules_.groups.size(), 0) {
    offSince_.fill(kLongAgo);
}

bool RuleKeeper::clear(int group, qint64 now) const {
    return clearSince_[group] != kNever &&
           now >= clearSince_[group] + rules_.groups[group].deadTimeMs;
}

std::optional<Refusal> RuleKeeper::checkGroups(quint16 shown, quint16& wanted, int single,
                                               qint64 now) {
    for (int g = 0; g < rules_.groups.size(); ++g) {
        const InterlockGroup& group = rules_.groups[g];
        const bool mine = single > 0 && (group.members & relayWeight(single));
        const quint16 others = mine ? quint16(group.members & ~relayWeight(single)) : 0;
        if (mine && (shown & others) && group.mode == InterlockGroup::Mode::Block) {
            return conflict(QStringLiteral("%1 ist an (Gruppe »%2«): erst ausschalten.")
                                .arg(rules_.label(membersIn(shown & others).first()), group.name));
        }
        wanted &= ~others; // switching over: the others go off first
        const QList<int> on = membersIn(wanted & group.members);
        if (on.size() > 1) {
            QStringList labels;
            for (int relay : on) {
                labels << rules_.label(relay);
            }
            return Refusal{Refusal::Kind::BadArgument,
                           QStringLiteral("Gruppe »%1«: %2 wären zugleich an.")
                               .arg(group.name, labels.join(QStringLiteral(" und "))),
                           {},
                           0,
                           {}};
        }
        const quint16 newlyOn = wanted & group.members & ~shown;
        if (newlyOn == 0) {
            // A pattern says every relay's state; a one-relay "off" its own.
            if ((single == 0 && on.isEmpty()) || (single < 0 && -single == waiting_[g])) {
                wait(g, 0);
            }
            continue;
        }
        if ((shown & group.members) != 0 || !clear(g, now)) {
            wait(g, on.first()); // the latest request wins
            wanted &= ~newlyOn;
        } else {
            wait(g, 0);
        }
    }
    return std::nullopt;
}

std::variant<quint16, Refusal> RuleKeeper::admit(quint16 shown, quint16 wanted, int single,
                                                 qint64 now, qint64 pulseMs) {
    for (int relay : membersIn(wanted & ~shown)) {
        const qint64 minOff = rules_.relays[relay - 1].minOffMs;
        const qint64 left = offSince_[relay - 1] + minOff - now;
        if (minOff > 0 && left > 0) {
            return conflict(QStringLiteral("%1 darf erst in %2 wieder an.")
                                .arg(rules_.label(relay), durationText(left)));
        }
    }
    if (auto refusal = checkGroups(shown, wanted, single, now)) {
        return *refusal;
    }
    if (pulseMs > 0 && single > 0) {
        if (shown & relayWeight(single)) {
            pulseEnd_[single - 1] = now + pulseMs; // renewed: from now
        } else {
            pulseLength_[single - 1] = pulseMs;
        }
    }
    return wanted;
}

void RuleKeeper::wait(int group, int relay) {
    const int before = std::exchange(waiting_[group], relay);
    if (before != 0 && before != relay) {
        pulseLength_[before - 1] = 0; // its pulse waits no more either
    }
}

void RuleKeeper::shownChanged(quint16 before, quint16 after, qint64 now) {
    for (int relay : membersIn(after & ~before)) {
        const int i = relay - 1;
        for (int& waiting : waiting_) {
            waiting = waiting == relay ? 0 : waiting; // its turn has come
        }
        const qint64 maxOn = rules_.relays[i].maxOnMs;
        maxOnEnd_[i] = maxOn > 0 ? now + maxOn : 0;
        pulseEnd_[i] = pulseLength_[i] > 0 ? now + pulseLength_[i] : 0;
        pulseLength_[i] = 0;
    }
    for (int relay : membersIn(before & ~after)) {
        const int i = relay - 1;
        offSince_[i] = now;
        pulseEnd_[i] = maxOnEnd_[i] = pulseLength_[i] = 0; // "off" ends a pulse
    }
}

void RuleKeeper::frameHanded(quint16 frame) {
    for (int g = 0; g < rules_.groups.size(); ++g) {
        if (frame & rules_.groups[g].members) {
            clearSince_[g] = kNever;
            offOnItsWay_[g] = false;
        } else if (clearSince_[g] == kNever) {
            offOnItsWay_[g] = true;
        }
    }
}

void RuleKeeper::everythingLeft(qint64 now) {
    for (int g = 0; g < rules_.groups.size(); ++g) {
        if (offOnItsWay_[g]) {
            clearSince_[g] = now; // (at most a tick late: the wait is never shorter)
            offOnItsWay_[g] = false;
        }
    }
}

quint16 RuleKeeper::safeFrame(quint16 frame, QString* why) const {
    for (const InterlockGroup& group : rules_.groups) {
        if (qPopulationCount(quint16(frame & group.members)) > 1) {
            frame &= ~group.members;
            if (why != nullptr) {
                *why = QStringLiteral("Gruppe »%1«: zwei Relais zugleich an, die Gruppe geht aus.")
                           .arg(group.name);
            }
        }
    }
    return frame;
}

std::vector<RuleKeeper::Step> RuleKeeper::due(quint16 shown, qint64 now) const {
    std::vector<Step> steps;
    for (int relay : membersIn(shown)) {
        const int i = relay - 1;
        if (pulseEnd_[i] > 0 && pulseEnd_[i] <= now) {
            steps.push_back({relay, false, ChangeSource::Kind::PulseEnd});
        } else if (maxOnEnd_[i] > 0 && maxOnEnd_[i] <= now) {
            steps.push_back({relay, false, ChangeSource::Kind::MaxOn});
        }
    }
    for (int g = 0; g < rules_.groups.size(); ++g) {
        if (waiting_[g] != 0 && (shown & rules_.groups[g].members) == 0 && clear(g, now)) {
            steps.push_back({waiting_[g], true, ChangeSource::Kind::Interlock});
        }
    }
    return steps;
}

std::optional<qint64> RuleKeeper::offAt(int relay, quint16 shown) const {
    const int i = relay - 1;
    if (!(shown & relayWeight(relay))) {
        return std::nullopt;
    }
    const qint64 pulse = pulseEnd_[i] > 0 ? pulseEnd_[i] : std::numeric_limits<qint64>::max();
    const qint64 maxOn = maxOnEnd_[i] > 0 ? maxOnEnd_[i] : std::numeric_limits<qint64>::max();
    const qint64 end = std::min(pulse, maxOn);
    return end == std::numeric_limits<qint64>::max() ? std::nullopt : std::optional<qint64>(end);
}

std::optional<qint64> RuleKeeper::nextDeadline(quint16 shown) const {
    std::optional<qint64> next;
    const auto consider = [&next](qint64 at) { next = next ? std::min(*next, at) : at; };
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        if (const auto end = offAt(relay, shown)) {
            consider(*end);
        }
    }
    for (int g = 0; g < rules_.groups.size(); ++g) {
        // (While a member is on, the one waiting is due only once it is off.)
        if (waiting_[g] != 0 && clearSince_[g] != kNever &&
            (shown & rules_.groups[g].members) == 0) {
            consider(clearSince_[g] + rules_.groups[g].deadTimeMs);
        }
    }
    return next;
}

} // namespace relais
