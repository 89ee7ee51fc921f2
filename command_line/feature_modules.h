#pragma once

#include "bridge_options.h"
#include "relay_operations.h"
#include "remote_access.h"
#include "web_options.h"

#include <QString>
#include <QTextStream>

#include <memory>

namespace relais {

// The broker bridge and the web panel. Where they are modules of their own,
// each is loaded only here, when it is asked for, so that a program without
// --mqtt or --web never maps libmosquitto, the HTTP server or OpenSSL.

// Joins the broker in the background; null, with a line on `log`, when it
// cannot work at all.
std::unique_ptr<RemoteAccess> joinBroker(RelayOperations& relays,
                                         const mqtt::BridgeOptions& options, QTextStream& log);
// --mqtt-forget; true when done.
bool forgetCard(const mqtt::BridgeOptions& options, QTextStream& log);
// Opens the web panel; null, with a line on `log`, when it cannot.
std::unique_ptr<RemoteAccess> openWebPanel(RelayOperations& relays,
                                           const web::PanelOptions& options, QTextStream& log);
// --set-web-password and the other login commands; the exit code.
int runWebCommand(const web::StoreCommand& command, QTextStream& out, QTextStream& err);

// The entry `symbol` of the module `name` beside the program (or in its
// library folder once installed); null with `error` set when it cannot be had.
QFunctionPointer moduleEntry(const QString& name, const char* symbol, QString& error);

} // namespace relais
