#pragma once

#include "schedule_clock.h"

#include <QDateTime>

// A wall clock that moves only when a test says so: on to an instant
// (ringing the alarm on the way, at its time), set by hand (a jump), or
// asleep (the alarm rings late, on waking).

struct FakeScheduleClock : relais::ScheduleClock {
    qint64 wall = 0;
    qint64 alarm = -1;
    std::function<void()> rang;
    std::function<void()> changed;
    int alarmsSet = 0;

    qint64 wallNow() const override { return wall; }
    void alarmAt(qint64 utcMs, std::function<void()> r) override {
        alarm = utcMs;
        rang = std::move(r);
        ++alarmsSet;
    }
    void whenClockSet(std::function<void()> c) override { changed = std::move(c); }

    static qint64 utc(const char* iso) {
        return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODate).toMSecsSinceEpoch();
    }
    void runTo(qint64 to) {
        while (alarm >= 0 && alarm <= to) {
            wall = std::max(wall, alarm);
            ring();
        }
        wall = to;
    }
    void setTo(qint64 to) { // a time server's correction, a hand on the clock
        wall = to;
        changed();
    }
    void sleepUntil(qint64 to) { // a suspended machine: whatever was due rings now
        wall = to;
        if (alarm >= 0 && alarm <= to) {
            ring();
        }
    }

private:
    void ring() {
        alarm = -1;
        auto r = std::move(rang);
        r();
    }
};
