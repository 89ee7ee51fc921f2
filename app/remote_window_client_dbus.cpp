#include "remote_window_client.h"

#include "command_line.h"
#include "remote_window.h"

namespace relais {

int sendToWindow(const WindowRequest& request, QTextStream& err) {
    QString error;
    switch (askRunningWindow(request, error)) {
    case RemoteResult::Done:
        return kExitOk;
    case RemoteResult::Failed:
        err << error << Qt::endl;
        return kExitWindowFailed;
    case RemoteResult::NoWindow:
        break;
    }
    err << QStringLiteral("Kein Relaiskarte-Fenster läuft; ohne Fenster --port angeben.")
        << Qt::endl;
    return kExitUsage;
}

} // namespace relais
