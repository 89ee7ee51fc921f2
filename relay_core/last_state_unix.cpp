#include "last_state.h"

#include <QDir>

namespace relais {

QString lastStatePath() {
    QString folder = qEnvironmentVariable("STATE_DIRECTORY"); // the service's, from systemd
    if (folder.isEmpty()) {
        const QString xdg = qEnvironmentVariable("XDG_STATE_HOME");
        folder = (xdg.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/state") : xdg) +
                 QStringLiteral("/relaiskarte");
    }
    return folder.section(QLatin1Char(':'), 0, 0) + QStringLiteral("/last-state.json");
}

} // namespace relais
