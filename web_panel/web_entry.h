#pragma once

#include "relay_operations.h"
#include "remote_access.h"
#include "web_options.h"

#include <QTextStream>

// The entries of the web panel's module (the HTTP server and OpenSSL load
// with it). Opens the panel; null, with a line on `log`, when it cannot.
extern "C" relais::RemoteAccess* relaiskarteOpenWebPanel(relais::RelayOperations& relays,
                                                         const relais::web::PanelOptions& options,
                                                         QTextStream& log);
// --set-web-password, the tokens and --web-fingerprint; the exit code.
extern "C" int relaiskarteRunWebCommand(const relais::web::StoreCommand& command, QTextStream& out,
                                        QTextStream& err);

using OpenWebPanelFunction = decltype(&relaiskarteOpenWebPanel);
using RunWebCommandFunction = decltype(&relaiskarteRunWebCommand);
