#pragma once

#include "port_resolver.h"

#include <QString>
#include <QStringList>

namespace relais {

// How the program ends when run from a script.
enum ExitCode : int {
    kExitOk = 0,
    kExitWindowFailed = 1, // the running window refused the pattern
    kExitUsage = 2,        // bad input, or no window to send to; no port was opened
    kExitPortNotFound = 3,
    kExitPortInUse = 4,
    kExitPermissionDenied = 5,
    kExitOpenFailed = 6,
    kExitLineLost = 7,
};

// The exit code for a serial error number.
int exitCodeFor(int errorNumber);

// What the arguments ask for.
struct Invocation {
    enum class Action { Window, Help, Version, ListPorts, Send, Hold, SendToWindow, Error };
    Action action = Action::Window;
    PortSpec port;
    quint16 mask = 0;
    QString text; // the help text, or the one-line error
};

// Parses the program's arguments (the program name first). Needs a
// QCoreApplication for the help and version texts.
Invocation parseCommandLine(const QStringList& arguments);

// "3,16" or "-" (all off) as a mask; nullopt for anything else.
std::optional<quint16> parseRelayList(const QString& text);

} // namespace relais
