#include "schedule_start.h"

#include "built_at.h"
#include "last_state.h"

#include <QDir>
#include <QFileInfo>

namespace relais {

RunningSchedules::~RunningSchedules() {
    if (core != nullptr) {
        core->setSchedules(nullptr);
    }
}

std::unique_ptr<RunningSchedules> runSchedules(RelayCore& core, const Invocation& invocation,
                                               std::function<void(const QString&)> say) {
    if (invocation.schedules.entries.isEmpty()) {
        return nullptr;
    }
    auto running = std::make_unique<RunningSchedules>();
    running->clock = systemScheduleClock(&core);
    // Beside the last pattern: the service's state folder, or the user's.
    const QString path =
        QFileInfo(lastStatePath()).dir().filePath(QStringLiteral("schedules.json"));
    running->runner =
        std::make_unique<ScheduleRunner>(core, core.rules(), invocation.schedules, *running->clock,
                                         path, programBuiltAt(), std::move(say));
    running->core = &core;
    core.setSchedules(running->runner.get());
    running->runner->begin();
    return running;
}

} // namespace relais
