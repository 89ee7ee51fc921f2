#pragma once

#include "relay_rules.h"
#include "schedule_entry.h"

#include <QString>

#include <variant>

namespace relais {

// The [schedule.NAME] sections and [location] of a settings file; relays by
// number or by their names in `rules`. A fault is one line naming the
// file, the line and what is wrong; then no schedule of the file is used.
std::variant<Schedules, QString> readSchedules(const QString& path, const RelayRules& rules);

} // namespace relais
