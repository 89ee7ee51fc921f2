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

std::optional<Refusal> carryOutNow(RelayOperations& relays, const RelayCommand& command,
                                   const SystemPorts& systemPorts) {
    switch (command.kind()) {
    case RelayCommand::Kind::SetRelay:
        relays.setRelay(command.relay(), command.on());
        break;
    case RelayCommand::Kind::ToggleRelay:
        relays.setRelay(command.relay(), (relays.relays() & relayWeight(command.relay())) == 0);
        break;
    case RelayCommand::Kind::SetAll:
        relays.setRelays(command.mask());
        break;
    case RelayCommand::Kind::Start:
        return start(relays, command, systemPorts());
    case RelayCommand::Kind::Stop:
        relays.stop();
        break;
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
    return refusal;
}

std::optional<Refusal> carryOut(RelayOperations& relays, const RelayCommand::Made& made,
                                const SystemPorts& systemPorts, const ChangeSource& source) {
    if (const auto* refusal = std::get_if<Refusal>(&made)) {
        return *refusal;
    }
    return carryOut(relays, std::get<RelayCommand>(made), systemPorts, source);
}

} // namespace relais
