#pragma once

#include "refusal.h"
#include "relay_change.h"
#include "relay_rules.h"

#include <QList>

#include <array>
#include <limits>
#include <optional>
#include <variant>
#include <vector>

namespace relais {

// The rules as time goes by: when each relay went on and off, when it goes
// off by itself, and which member of an interlock group waits for its turn.
// Times are milliseconds of a steady clock; nothing here waits or wakes.
class RuleKeeper {
public:
    explicit RuleKeeper(RelayRules rules = {});
    const RelayRules& rules() const { return rules_; }

    // A wanted pattern against the rules at `now`: a refusal, or what to
    // show now. `single` is the relay a one-relay command switches on (its
    // negative for "off"; 0 for a whole pattern): in a group that switches
    // over, the others go off for it. A member whose group is not yet clear
    // on the wire waits, off; the latest request wins.
    // `pulseMs` makes a one-relay "on" a pulse: from now if the relay is on
    // already, else from when it goes on.
    std::variant<quint16, Refusal> admit(quint16 shown, quint16 wanted, int single, qint64 now,
                                         qint64 pulseMs = 0);
    // Whatever changed the relays, at `now`.
    void shownChanged(quint16 before, quint16 after, qint64 now);

    // The port: a frame handed to it, and everything handed before has left.
    void frameHanded(quint16 frame);
    void everythingLeft(qint64 now);
    // The last word before the port: a frame with two members of a group on
    // gets that group's members off, and `why` says so.
    quint16 safeFrame(quint16 frame, QString* why) const;

    // What is due at `now`: relays to switch (off at a pulse's end or their
    // maximum time, on when their group is clear), each with its cause.
    struct Step {
        int relay = 0;
        bool on = false;
        ChangeSource::Kind cause = ChangeSource::Kind::Line;
    };
    std::vector<Step> due(quint16 shown, qint64 now) const;
    // When the next step falls due; none while nothing waits.
    std::optional<qint64> nextDeadline(quint16 shown) const;
    // A relay's pulse and maximum ends (0: none), to keep across a restart.
    struct Ends {
        qint64 pulse = 0;
        qint64 maxOn = 0;
    };
    Ends endsOf(int relay) const { return {pulseEnd_[relay - 1], maxOnEnd_[relay - 1]}; }
    // Ends kept from before; none kept leaves what the rules set now.
    void restoreEnds(int relay, Ends ends) {
        pulseEnd_[relay - 1] = ends.pulse > 0 ? ends.pulse : pulseEnd_[relay - 1];
        maxOnEnd_[relay - 1] = ends.maxOn > 0 ? ends.maxOn : maxOnEnd_[relay - 1];
    }
    // When a relay that is on goes off by itself.
    std::optional<qint64> offAt(int relay, quint16 shown) const;

private:
    static constexpr qint64 kLongAgo = std::numeric_limits<qint64>::min() / 4;
    static constexpr qint64 kNever = -1;
    bool clear(int group, qint64 now) const;
    std::optional<Refusal> checkGroups(quint16 shown, quint16& wanted, int single, qint64 now);
    void wait(int group, int relay);

    RelayRules rules_;
    std::array<qint64, kRelayCount> offSince_;
    std::array<qint64, kRelayCount> pulseEnd_{};    // 0: none
    std::array<qint64, kRelayCount> maxOnEnd_{};    // 0: none
    std::array<qint64, kRelayCount> pulseLength_{}; // a pulse waiting to begin
    // Per group: since when a frame with every member off has left the
    // port (kNever while a member's "on" may still be on the line), whether
    // such a frame is on its way, and the member waiting for its turn.
    std::vector<qint64> clearSince_;
    std::vector<bool> offOnItsWay_;
    std::vector<int> waiting_;
};

} // namespace relais
