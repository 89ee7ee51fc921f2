#pragma once

#include <QString>

namespace relais {

// Why a command was not carried out, in the German words every way in
// shows; each way in maps the kind to its own channel (an HTTP status, a
// D-Bus error name, `link/error`, an exit code, the pipe's error line).
struct Refusal {
    enum class Kind { BadArgument, Conflict, PortError };
    Kind kind = Kind::BadArgument;
    QString text;
    QString detail;    // a port error's device and the system's reason
    int portError = 0; // a port error's number (kErrPortNotFound, ...)
    QString message;   // a port error's message as a box shows it (one or two lines)
};

} // namespace relais
