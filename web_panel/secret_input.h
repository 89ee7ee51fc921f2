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
// One line from standard input as it comes, without its line end.
std::optional<QByteArray> readInputLine();

} // namespace relais::web
