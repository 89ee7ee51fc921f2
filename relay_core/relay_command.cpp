#include "relay_command.h"

#include "link_control.h"
#include "network_ports.h"
#include "relay_panel.h"

namespace relais {

namespace {

Refusal badArgument(const QString& text) {
    return Refusal{Refusal::Kind::BadArgument, text, {}, 0, {}};
}

Refusal noSuchRelay(qint64 relay) {
    return badArgument(QStringLiteral("Relais %1 gibt es nicht: erlaubt sind 1 bis %2.")
                           .arg(relay)
                           .arg(kRelayCount));
}

Refusal badPort(const QString& port, bool fromNetwork) {
    return badArgument(
        fromNetwork ? QStringLiteral("Ungültige Schnittstelle »%1«: erlaubt sind COM 1 bis %2, "
                                     "/dev/serial/by-id/…, /dev/serial/by-path/… oder die "
                                     "bekannte Schnittstelle.")
                          .arg(port, comName(kPortCount))
                    : QStringLiteral("Ungültige Schnittstelle »%1«: erlaubt sind COM 1 bis %2 "
                                     "oder ein Gerätepfad.")
                          .arg(port, comName(kPortCount)));
}

Refusal portError(const CommError& error) {
    const QString message = messageFor(error);
    const qsizetype lineEnd = message.indexOf(QLatin1Char('\n'));
    Refusal refusal{Refusal::Kind::PortError, message, {}, error.number(), message};
    if (lineEnd < 0) {
        refusal.detail = QStringLiteral("%1: %2").arg(error.device(), error.reason());
    } else {
        refusal.text = message.left(lineEnd);
        refusal.detail = message.mid(lineEnd + 1);
    }
    return refusal;
}

// The device a port stands for now, to compare with the one in use.
QString deviceOf(const PortSpec& port, const QStringList& systemPorts) {
    return port.number > 0 ? systemPorts.value(port.number - 1) : port.device;
}

std::optional<Refusal> start(RelayOperations& relays, const RelayCommand& command,
                             const QStringList& systemPorts) {
    const std::optional<PortSpec> port = command.port() ? command.port() : relays.knownPort();
    if (!port) {
        return badArgument(QStringLiteral("Keine Schnittstelle bekannt: im Fenster eine wählen, "
                                          "mit --port starten oder eine Schnittstelle nennen."));
    }
    if (command.fromNetwork() && command.port() &&
        !allowedFromNetwork(*port, systemPorts, relays.knownPort())) {
        return badPort(port->number > 0 ? comName(port->number) : port->device, true);
    }
    if (relays.isRunning()) {
        if (deviceOf(*port, systemPorts) == relays.portInUse()) {
            return std::nullopt; // already so
        }
        return Refusal{Refusal::Kind::Conflict,
                       QStringLiteral("Die Verbindung läuft schon auf %1; erst stoppen.")
                           .arg(relays.portInUse()),
                       {},
                       0,
                       {}};
    }
    try {
        relays.startOn(*port);
    } catch (const CommError& error) {
        return portError(error);
    }
    return std::nullopt;
}

template <class SwitchOne>
std::optional<Refusal> pulse(RelayOperations& relays, const RelayCommand& command,
                             const SwitchOne& one) {
    if (!relays.isRunning()) {
        return Refusal{Refusal::Kind::Conflict,
                       QStringLiteral("Ein Impuls braucht die laufende Verbindung: erst starten."),
                       {},
                       0,
                       {}};
    }
    const qint64 ms = command.pulseMs(relays.rules());
    if (ms <= 0) {
        return badArgument(QStringLiteral("%1 hat keine Impulslänge: eine angeben.")
                               .arg(relays.rules().label(command.relay())));
    }
    return one(true, ms);
}

std::optional<Refusal> carryOutNow(RelayOperations& relays, const RelayCommand& command,
                                   const SystemPorts& systemPorts) {
    const quint16 shown = relays.relays();
    const int relay = command.relay();
    const auto one = [&](bool on, qint64 pulseMs = 0) {
        const quint16 bit = quint16(relayWeight(relay));
        return relays.switchTo(on ? quint16(shown | bit) : quint16(shown & ~bit),
                               on ? relay : -relay, pulseMs);
    };
    switch (command.kind()) {
    case RelayCommand::Kind::SetRelay:
        return one(command.on());
    case RelayCommand::Kind::ToggleRelay:
        return one((shown & relayWeight(relay)) == 0);
    case RelayCommand::Kind::SetAll:
        return relays.switchTo(command.mask(), 0, 0);
    case RelayCommand::Kind::Pulse:
        return pulse(relays, command, one);
    case RelayCommand::Kind::Start:
        return start(relays, command, systemPorts());
    case RelayCommand::Kind::Stop:
        relays.stop();
        break;
    case RelayCommand::Kind::PauseSchedules:
        return relays.pauseSchedules(command.on());
    }
    return std::nullopt;
}

} // namespace

RelayCommand::Made RelayCommand::setRelay(qint64 relay, bool on) {
    if (relay < 1 || relay > kRelayCount) {
        return noSuchRelay(relay);
    }
    RelayCommand command(Kind::SetRelay);
    command.relay_ = int(relay);
    command.on_ = on;
    return command;
}

RelayCommand::Made RelayCommand::toggleRelay(qint64 relay) {
    Made made = setRelay(relay, false);
    if (auto* command = std::get_if<RelayCommand>(&made)) {
        command->kind_ = Kind::ToggleRelay;
    }
    return made;
}

RelayCommand::Made RelayCommand::pulse(qint64 relay, std::optional<qint64> ms) {
    Made made = setRelay(relay, true);
    auto* command = std::get_if<RelayCommand>(&made);
    if (command == nullptr) {
        return made;
    }
    command->kind_ = Kind::Pulse;
    if (ms) {
        if (*ms < kShortestPulseMs || *ms > kLongestPulseMs) {
            return badArgument(QStringLiteral("Impuls von %1 ms: erlaubt sind %2 ms bis 7 Tage.")
                                   .arg(*ms)
                                   .arg(kShortestPulseMs));
        }
        command->pulseMs_ = (*ms + kTickInterval / 2) / kTickInterval * kTickInterval;
    }
    return made;
}

RelayCommand::Made RelayCommand::setAll(qint64 mask, const QString& given) {
    if (mask < 0 || mask > 0xFFFF) { // sixteen relays, one bit each
        return badArgument(QStringLiteral("Maske %1 außerhalb von 0 bis %2")
                               .arg(given.isEmpty() ? QString::number(mask) : given)
                               .arg(0xFFFF));
    }
    RelayCommand command(Kind::SetAll);
    command.mask_ = quint16(mask);
    return command;
}

RelayCommand::Made RelayCommand::start(const QString& port, bool fromNetwork) {
    RelayCommand command(Kind::Start);
    command.fromNetwork_ = fromNetwork;
    if (!port.isEmpty()) {
        command.port_ = parsePortSpec(port);
        if (!command.port_) {
            return badPort(port, fromNetwork);
        }
    }
    return command;
}

RelayCommand::Made RelayCommand::startOnNumber(qint64 number, bool fromNetwork) {
    if (number < 1 || number > kPortCount) {
        return badPort(QString::number(number), fromNetwork);
    }
    return start(QString::number(number), fromNetwork);
}

std::optional<Refusal> carryOut(RelayOperations& relays, const RelayCommand& command,
                                const SystemPorts& systemPorts, const ChangeSource& source) {
    std::optional<Refusal> refusal;
    relays.asOneChange([&] { refusal = carryOutNow(relays, command, systemPorts); }, source);
    if (refusal) {
        relays.tellRefusal(*refusal, source);
    }
    return refusal;
}

std::optional<Refusal> carryOut(RelayOperations& relays, const RelayCommand::Made& made,
                                const SystemPorts& systemPorts, const ChangeSource& source) {
    if (const auto* refusal = std::get_if<Refusal>(&made)) {
        relays.tellRefusal(*refusal, source);
        return *refusal;
    }
    return carryOut(relays, std::get<RelayCommand>(made), systemPorts, source);
}

} // namespace relais
