#pragma once

#include "bridge_options.h"
#include "relay_operations.h"
#include "remote_access.h"

#include <QTextStream>

// The entries of the broker module (libmosquitto and OpenSSL load with it).
// Joins the broker in the background; null, with a line on `log`, when the
// options can never work.
extern "C" relais::RemoteAccess* relaiskarteJoinBroker(relais::RelayOperations& relays,
                                                       const relais::mqtt::BridgeOptions& options,
                                                       QTextStream& log);
// --mqtt-forget: true when the card's retained messages are cleared.
extern "C" bool relaiskarteForgetCard(const relais::mqtt::BridgeOptions& options, QTextStream& log);

using JoinBrokerFunction = decltype(&relaiskarteJoinBroker);
using ForgetCardFunction = decltype(&relaiskarteForgetCard);
