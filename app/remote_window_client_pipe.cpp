#include "remote_window_client.h"

#include "command_line.h"
#include "pipe_channel.h"

namespace relais {

int sendToWindow(const WindowRequest& request, QTextStream& err) {
    QString error;
    switch (pipe::askRunningWindow(request, error)) {
    case pipe::SendResult::Done:
        return kExitOk;
    case pipe::SendResult::Failed:
        err << error << Qt::endl;
        return kExitWindowFailed;
    case pipe::SendResult::NoWindow:
        break;
    }
    err << QStringLiteral("Kein Relaiskarte-Fenster läuft; ohne Fenster --port angeben.")
        << Qt::endl;
    return kExitUsage;
}

} // namespace relais
