#pragma once

#include "port_resolver.h"
#include "refusal.h"
#include "relay_change.h"
#include "relay_rules.h"
#include "schedule_control.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <utility>

namespace relais {

// The relays and the link as scripts and remote controls reach them,
// whether a window shows them or not. Each operation acts as the matching
// click does; the next tick sends the result.
class RelayOperations {
public:
    virtual ~RelayOperations() = default;
    virtual void setRelay(int relay, bool on) = 0;
    virtual void setRelays(quint16 mask) = 0;
    virtual quint16 relays() const = 0;
    virtual bool isRunning() const = 0;
    // The device in use; empty while stopped.
    virtual QString portInUse() const = 0;
    // Starts on a port as choosing it and pressing "Start/Stop" would, but
    // throws CommError instead of showing a message. Nothing while running.
    virtual void startOn(const PortSpec& port) = 0;
    // The port "Start/Stop" would start on now: the one chosen or last
    // started on; none before any was.
    virtual std::optional<PortSpec> knownPort() const = 0;
    virtual void stop() = 0;
    // Shows `wanted` as far as the rules allow: `single` is the one relay a
    // command switches (negative for "off"; 0 for a whole pattern),
    // `pulseMs` makes its "on" a pulse. The refusal, or nothing.
    virtual std::optional<Refusal> switchTo(quint16 wanted, int single, qint64 pulseMs) = 0;
    // The relays' names, lengths and groups.
    virtual const RelayRules& rules() const = 0;
    // A command of `source` was refused: for the record of who did what.
    virtual void tellRefusal(const Refusal& refusal, const ChangeSource& source) {
        Q_UNUSED(refusal);
        Q_UNUSED(source);
    }
    // `refused` runs for every refused command, for as long as `context` lives.
    using RefusalWatch = std::function<void(const Refusal&, const ChangeSource&)>;
    virtual void watchRefusals(QObject* context, RefusalWatch refused) {
        Q_UNUSED(context);
        Q_UNUSED(refused);
    }
    // The schedules, where there are any (none: nullptr, and pausing is
    // refused as a conflict).
    virtual ScheduleControl* schedules() const = 0;
    virtual std::optional<Refusal> pauseSchedules(bool paused) = 0;
    // The schedules' plan moved on (a switching time passed, a relay held
    // by hand): the watchers hear of the next times.
    virtual void scheduleMoved() = 0;
    // The state as the watchers were last told it.
    virtual RelayState state() const = 0;
    // `changed` runs after every change of a relay or the link, whatever
    // made it (a click, the keyboard, a script, a lost line), for as long as
    // `context` lives.
    virtual void watch(QObject* context, std::function<void(const RelayChange&)> changed) = 0;
    // Runs `work` as one change made by `source`: the watchers hear of what
    // it changed once, after it (sixteen relays set at once are one change).
    virtual void asOneChange(const std::function<void()>& work, const ChangeSource& source) = 0;
};

// What a relay core needs to tell its watchers once per change.
class ChangeGate {
public:
    // `tell` runs once for each change outside `asOne`, once after it.
    explicit ChangeGate(std::function<void()> tell) : tell_(std::move(tell)) {}
    void changed() {
        if (holding_ > 0) {
            held_ = true;
        } else {
            tell_();
        }
    }
    void asOne(const std::function<void()>& work) {
        struct Hold {
            ChangeGate& gate;
            explicit Hold(ChangeGate& g) : gate(g) { ++gate.holding_; }
            ~Hold() {
                if (--gate.holding_ == 0 && std::exchange(gate.held_, false)) {
                    gate.tell_();
                }
            }
        } hold(*this);
        work();
    }

private:
    std::function<void()> tell_;
    int holding_ = 0;
    bool held_ = false;
};

} // namespace relais
