#pragma once

#include "port_resolver.h"
#include "refusal.h"
#include "relay_operations.h"
#include "relay_panel.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <variant>

namespace relais {

// One thing to do to the relays or the link, built only from checked
// values: a relay 1 to 16, a pattern 0 to 65535, a port as named.
class RelayCommand {
public:
    enum class Kind { SetRelay, ToggleRelay, SetAll, Pulse, Start, Stop, PauseSchedules };
    // A pulse's bounds: two frames at least, so that one carries the "on".
    static constexpr qint64 kShortestPulseMs = 2 * kTickInterval;
    static constexpr qint64 kLongestPulseMs = 7LL * 24 * 3600 * 1000;
    using Made = std::variant<RelayCommand, Refusal>;

    static Made setRelay(qint64 relay, bool on);
    static Made toggleRelay(qint64 relay);
    // `given`: the pattern as it was written, for the refusal's text.
    static Made setAll(qint64 mask, const QString& given = {});
    // On now, off after `ms` (rounded to whole ticks); none: the relay's own length.
    static Made pulse(qint64 relay, std::optional<qint64> ms);
    // `port`: "COM n", "COMn", "n" or a device path; empty for the port the
    // program knows. From the network only serial lines may be opened.
    static Made start(const QString& port, bool fromNetwork);
    static Made startOnNumber(qint64 number, bool fromNetwork);
    static RelayCommand stop() { return RelayCommand(Kind::Stop); }
    // Pauses every schedule (`on` false: they run again).
    static RelayCommand pauseSchedules(bool paused) {
        RelayCommand command(Kind::PauseSchedules);
        command.on_ = paused;
        return command;
    }

    Kind kind() const { return kind_; }
    int relay() const { return relay_; }
    bool on() const { return on_; }
    quint16 mask() const { return mask_; }
    // The pulse's length as carried out: the one given, or the relay's own.
    qint64 pulseMs(const RelayRules& rules) const {
        return pulseMs_ > 0 ? pulseMs_ : rules.relays.at(relay_ - 1).pulseMs;
    }
    const std::optional<PortSpec>& port() const { return port_; }
    bool fromNetwork() const { return fromNetwork_; }

private:
    explicit RelayCommand(Kind kind) : kind_(kind) {}
    Kind kind_;
    int relay_ = 0;
    bool on_ = false;
    quint16 mask_ = 0;
    qint64 pulseMs_ = 0;
    std::optional<PortSpec> port_; // none: the port known
    bool fromNetwork_ = false;
};

// The devices behind COM 1 to COM 8; asked only by a start.
using SystemPorts = std::function<QStringList()>;

// Carries a command out as one change made by `source`, the same for every
// way in; a refusal changes nothing.
std::optional<Refusal> carryOut(RelayOperations& relays, const RelayCommand& command,
                                const SystemPorts& systemPorts, const ChangeSource& source);
// The same for a command as made: one that is a refusal already stays one.
std::optional<Refusal> carryOut(RelayOperations& relays, const RelayCommand::Made& made,
                                const SystemPorts& systemPorts, const ChangeSource& source);

} // namespace relais
