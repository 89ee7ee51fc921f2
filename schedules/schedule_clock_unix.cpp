#include "schedule_clock.h"

#include <QDateTime>
#include <QSocketNotifier>

#include <cerrno>
#include <sys/timerfd.h>
#include <unistd.h>

namespace relais {

namespace {

// A timerfd on CLOCK_REALTIME at an absolute time: it rings by the wall
// clock, also after a suspend, and is cancelled when the clock is set.
class TimerFdClock : public ScheduleClock {
public:
    explicit TimerFdClock(QObject* owner)
        : fd_(timerfd_create(CLOCK_REALTIME, TFD_NONBLOCK | TFD_CLOEXEC)),
          notifier_(fd_, QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, owner, [this] { ready(); });
    }
    ~TimerFdClock() override {
        notifier_.setEnabled(false);
        ::close(fd_);
    }
    qint64 wallNow() const override { return QDateTime::currentMSecsSinceEpoch(); }
    void alarmAt(qint64 utcMs, std::function<void()> rang) override {
        rang_ = std::move(rang);
        arm(utcMs);
    }
    void whenClockSet(std::function<void()> changed) override { changed_ = std::move(changed); }

private:
    void arm(qint64 utcMs) {
        at_ = std::max<qint64>(utcMs, 1);
        itimerspec alarm{};
        alarm.it_value.tv_sec = time_t(at_ / 1000);
        alarm.it_value.tv_nsec = long(at_ % 1000) * 1000000;
        timerfd_settime(fd_, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &alarm, nullptr);
    }
    void ready() {
        quint64 expirations = 0;
        if (::read(fd_, &expirations, sizeof expirations) < 0 && errno == ECANCELED) {
            arm(at_); // the clock was set: the alarm stays where it was
            if (changed_) {
                changed_();
            }
            return;
        }
        if (expirations > 0 && rang_) {
            auto rang = std::move(rang_);
            rang_ = nullptr;
            rang();
        }
    }

    int fd_;
    QSocketNotifier notifier_;
    qint64 at_ = 0;
    std::function<void()> rang_;
    std::function<void()> changed_;
};

} // namespace

std::unique_ptr<ScheduleClock> systemScheduleClock(QObject* owner) {
    return std::make_unique<TimerFdClock>(owner);
}

} // namespace relais
