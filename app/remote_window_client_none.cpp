// Where the system has no session bus (Windows), a running window cannot
// be reached; the user is told what works instead.

#include "remote_window_client.h"

#include "command_line.h"

namespace relais {

int sendToWindow(const WindowRequest&, QTextStream& err) {
    err << QStringLiteral("Ein laufendes Fenster ist hier nicht erreichbar; --port angeben, "
                          "z. B. --port \"COM 1\".")
        << Qt::endl;
    return kExitUsage;
}

} // namespace relais
