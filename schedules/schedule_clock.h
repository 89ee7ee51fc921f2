#pragma once

#include <QObject>

#include <functional>
#include <memory>

namespace relais {

// The schedules' time: the wall clock, one alarm at a wall-clock instant
// (it rings late, not never, after a suspend), and word when the wall
// clock was set or the machine woke up. Given from outside, so that tests
// move time on instead of waiting.
class ScheduleClock {
public:
    virtual ~ScheduleClock() = default;
    virtual qint64 wallNow() const = 0; // UTC milliseconds since 1970
    // Runs `rang` once at `utcMs` or as soon after as the machine is up;
    // replaces the alarm before.
    virtual void alarmAt(qint64 utcMs, std::function<void()> rang) = 0;
    virtual void whenClockSet(std::function<void()> changed) = 0;
};

// The real one, on the platform's wall-clock timer.
std::unique_ptr<ScheduleClock> systemScheduleClock(QObject* owner);

} // namespace relais
