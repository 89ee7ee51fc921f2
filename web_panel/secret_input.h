#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace relais::web {

// Whether standard input is a terminal.
bool inputIsTerminal();
// One line from standard input; on a terminal after `prompt` (on standard
// error) and without echo. Nothing at the end of input.
std::optional<QByteArray> readSecretLine(const QString& prompt);

} // namespace relais::web
