#pragma once

#include "command_line.h"
#include "relay_core.h"
#include "schedule_clock.h"
#include "schedule_runner.h"

#include <functional>
#include <memory>

namespace relais {

// The schedules of the settings running on a relay core, with the
// system's wall-clock alarm; nothing where there are none.
struct RunningSchedules {
    std::unique_ptr<ScheduleClock> clock;
    std::unique_ptr<ScheduleRunner> runner;
    RelayCore* core = nullptr;
    ~RunningSchedules();
};

std::unique_ptr<RunningSchedules> runSchedules(RelayCore& core, const Invocation& invocation,
                                               std::function<void(const QString&)> say);

} // namespace relais
