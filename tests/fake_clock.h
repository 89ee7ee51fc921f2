#pragma once

#include "core_clock.h"

#include <functional>

// Time that moves only when a test says so; the wake-up runs when its time
// has come.

struct FakeClock : relais::CoreClock {
    qint64 time = 1000;
    qint64 wakeTime = -1;
    std::function<void()> wake;
    qint64 now() const override { return time; }
    qint64 wallNow() const override { return 1'800'000'000'000 + time; }
    void wakeAt(qint64 at, std::function<void()> w) override {
        wakeTime = at;
        wake = std::move(w);
    }
    void stopWaking() override { wakeTime = -1; }
    void advance(qint64 ms) {
        time += ms;
        while (wakeTime >= 0 && wakeTime <= time) {
            wakeTime = -1;
            wake();
        }
    }
};
