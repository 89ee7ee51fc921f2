#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

namespace relais {

// The relay core's time: a steady clock in milliseconds, and one wake-up
// for the next deadline. Given from outside, so that tests move time on
// instead of waiting.
class CoreClock {
public:
    virtual ~CoreClock() = default;
    virtual qint64 now() const = 0;
    // The wall clock, UTC milliseconds since 1970, to tell `now` to people.
    virtual qint64 wallNow() const = 0;
    // Runs `wake` once at `at` (now or later); replaces the wake-up before.
    virtual void wakeAt(qint64 at, std::function<void()> wake) = 0;
    virtual void stopWaking() = 0;
};

// The real one: the monotonic clock and a precise single-shot timer.
class SteadyClock : public CoreClock {
public:
    explicit SteadyClock(QObject* owner);
    qint64 now() const override { return elapsed_.elapsed(); }
    qint64 wallNow() const override { return QDateTime::currentMSecsSinceEpoch(); }
    void wakeAt(qint64 at, std::function<void()> wake) override;
    void stopWaking() override { timer_.stop(); }

private:
    QElapsedTimer elapsed_;
    QTimer timer_;
    std::function<void()> wake_;
};

} // namespace relais
