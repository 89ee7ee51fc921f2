#pragma once

#include "relay_panel.h"

#include <QList>
#include <QString>

#include <array>
#include <variant>

namespace relais {

// What the settings say about one relay; nothing set, nothing changes.
struct RelayRule {
    QString name;
    qint64 maxOnMs = 0;  // off by itself this long after it went on
    qint64 minOffMs = 0; // no "on" sooner than this after it went off
    qint64 pulseMs = 0;  // a pulse's length when none is given
};

// Relays of which at most one may be on.
struct InterlockGroup {
    enum class Mode { SwitchOver, Block };
    QString name;
    quint16 members = 0;
    Mode mode = Mode::Block;
    qint64 deadTimeMs = 0;
};

struct RelayRules {
    std::array<RelayRule, kRelayCount> relays;
    QList<InterlockGroup> groups;
    bool powerOnLast = false;

    // Relay 1 to 16 by its number or its name; 0 for neither.
    int relayNamed(const QString& text) const;
    // "Relais 3 (Pumpe)", or "Relais 3" without a name.
    QString label(int relay) const;
    const InterlockGroup* groupOf(int relay) const;
    bool any() const;
};

// The rules of a settings file: its [relay.N] and [interlock.NAME]
// sections and [link] power_on. A fault is one line naming the file, the
// line and what is wrong; then nothing of the file is used.
std::variant<RelayRules, QString> readRelayRules(const QString& path);

} // namespace relais
