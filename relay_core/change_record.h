#pragma once

#include "refusal.h"
#include "relay_change.h"
#include "relay_rules.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace relais {

// Who switched what, one line per relay that changed and per refusal,
// at most ten lines a second; the rest are counted and said in one line.
class ChangeRecord {
public:
    static constexpr int kLinesPerSecond = 10;
    // `write` takes each line; `now` is a steady clock in milliseconds.
    ChangeRecord(const RelayRules& rules, std::function<void(const QString&)> write,
                 std::function<qint64()> now);

    void changed(const RelayChange& change);
    void refused(const Refusal& refusal, const ChangeSource& source);

    // The lines of a change: "Relais 3 (Pumpe) an (MQTT …)", "Verbindung gestoppt (D-Bus)".
    static QStringList linesFor(const RelayChange& change, const RelayRules& rules);

private:
    void say(const QString& line);

    const RelayRules& rules_;
    std::function<void(const QString&)> write_;
    std::function<qint64()> now_;
    qint64 windowStart_ = -1;
    int saidInWindow_ = 0;
    int untold_ = 0;
};

} // namespace relais
