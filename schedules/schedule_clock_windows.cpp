#include "schedule_clock.h"

#include <QDateTime>
#include <QWinEventNotifier>

#include <windows.h>

namespace relais {

namespace {

constexpr qint64 kFileTimeOfUnixEpoch = 116444736000000000LL; // 100 ns since 1601

// An absolute waitable timer: Windows keeps it on the wall clock, across a
// clock change and a sleep. A set clock is seen when the alarm rings.
class WaitableTimerClock : public ScheduleClock {
public:
    explicit WaitableTimerClock(QObject* owner)
        : timer_(CreateWaitableTimerW(nullptr, TRUE, nullptr)), notifier_(timer_) {
        QObject::connect(&notifier_, &QWinEventNotifier::activated, owner, [this] {
            CancelWaitableTimer(timer_);
            if (rang_) {
                auto rang = std::move(rang_);
                rang_ = nullptr;
                rang();
            }
        });
    }
    ~WaitableTimerClock() override {
        notifier_.setEnabled(false);
        CloseHandle(timer_);
    }
    qint64 wallNow() const override { return QDateTime::currentMSecsSinceEpoch(); }
    void alarmAt(qint64 utcMs, std::function<void()> rang) override {
        rang_ = std::move(rang);
        LARGE_INTEGER due;
        due.QuadPart = kFileTimeOfUnixEpoch + std::max<qint64>(utcMs, 1) * 10000;
        SetWaitableTimer(timer_, &due, 0, nullptr, nullptr, FALSE);
        notifier_.setEnabled(true);
    }
    void whenClockSet(std::function<void()> changed) override { changed_ = std::move(changed); }

private:
    HANDLE timer_;
    QWinEventNotifier notifier_;
    std::function<void()> rang_;
    std::function<void()> changed_;
};

} // namespace

std::unique_ptr<ScheduleClock> systemScheduleClock(QObject* owner) {
    return std::make_unique<WaitableTimerClock>(owner);
}

} // namespace relais
