#pragma once

#include "bridge_options.h"

#include <QTextStream>

namespace relais::mqtt {

// --mqtt-forget: clears what the card `options.name` left on the broker
// (its retained states and Home Assistant's configs). One line on `log`
// says what was done or why not.
bool forgetCard(const BridgeOptions& options, QTextStream& log);

} // namespace relais::mqtt
