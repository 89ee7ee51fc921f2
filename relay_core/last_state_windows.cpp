#include "last_state.h"

#include <QDir>

namespace relais {

QString lastStatePath() {
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    return (local.isEmpty() ? QDir::homePath() : QDir::fromNativeSeparators(local)) +
           QStringLiteral("/relaiskarte/last-state.json");
}

} // namespace relais
