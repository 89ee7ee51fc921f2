#include "core_clock.h"

#include <algorithm>

namespace relais {

SteadyClock::SteadyClock(QObject* owner) : timer_(owner) {
    elapsed_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, owner, [this] {
        if (wake_) {
            wake_();
        }
    });
}

void SteadyClock::wakeAt(qint64 at, std::function<void()> wake) {
    wake_ = std::move(wake);
    // (QTimer takes an int: a wake-up days ahead is asked for again on waking.)
    timer_.start(int(std::clamp<qint64>(at - now(), 0, 24LL * 3600 * 1000)));
}

} // namespace relais
