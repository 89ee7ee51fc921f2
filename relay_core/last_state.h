#pragma once

#include "relay_panel.h"

#include <QString>

#include <array>
#include <optional>
#include <variant>

namespace relais {

// What `power_on = last` brings back: the pattern, and when relays that
// are on go off by themselves (UTC milliseconds since 1970; 0 for never).
struct LastState {
    quint16 pattern = 0;
    std::array<qint64, kRelayCount> pulseEnd{};
    std::array<qint64, kRelayCount> maxOnEnd{};
};

// The file it is kept in: the service's state folder ($STATE_DIRECTORY),
// else the user's (one file per platform).
QString lastStatePath();

// Written whole or not at all; an error text on failure.
std::optional<QString> saveLastState(const QString& path, const LastState& state);
// The state, or why it cannot be had.
std::variant<LastState, QString> loadLastState(const QString& path);

} // namespace relais
