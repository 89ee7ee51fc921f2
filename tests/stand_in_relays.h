#pragma once

// Relays as the window would hold them, for the tests of the ways in: no
// port is opened; a start fails with `startError` when it is set.

#include "link_control.h"
#include "relay_operations.h"

struct StandInRelays : relais::RelayOperations {
    quint16 mask = 0;
    bool running = false;
    QString device;
    int startError = 0;
    std::optional<relais::PortSpec> known;
    void setRelay(int relay, bool on) override {
        mask = on ? quint16(mask | (1u << (relay - 1))) : quint16(mask & ~(1u << (relay - 1)));
    }
    void setRelays(quint16 m) override { mask = m; }
    quint16 relays() const override { return mask; }
    bool isRunning() const override { return running; }
    QString portInUse() const override { return running ? device : QString(); }
    // COM n stands for /dev/ttyUSB(n-1).
    void startOn(const relais::PortSpec& port) override {
        if (startError != 0) {
            throw relais::CommError(startError, QStringLiteral("/dev/ttyUSB1"),
                                    QStringLiteral("busy"));
        }
        running = true;
        device =
            port.number > 0 ? QStringLiteral("/dev/ttyUSB%1").arg(port.number - 1) : port.device;
        known = port;
    }
    std::optional<relais::PortSpec> knownPort() const override { return known; }
    void stop() override { running = false; }
    relais::RelayRules rulesSet;
    std::optional<relais::Refusal> switchTo(quint16 wanted, int, qint64) override {
        mask = wanted;
        return std::nullopt;
    }
    const relais::RelayRules& rules() const override { return rulesSet; }
    // Each command that changed something counts one, as in the core.
    quint64 revision = 1;
    relais::ChangeSource lastSource;
    relais::RelayState state() const override { return {mask, running, portInUse(), revision}; }
    relais::ScheduleControl* schedules() const override { return nullptr; }
    std::optional<relais::Refusal> pauseSchedules(bool) override {
        return relais::Refusal{relais::Refusal::Kind::Conflict, relais::kNoSchedules, {}, 0, {}};
    }
    void scheduleMoved() override {}
    void watch(QObject*, std::function<void(const relais::RelayChange&)>) override {}
    void asOneChange(const std::function<void()>& work,
                     const relais::ChangeSource& source) override {
        const relais::RelayState before = state();
        work();
        const relais::RelayState after = state();
        if (after.pattern != before.pattern || after.running != before.running ||
            after.port != before.port) {
            ++revision;
            lastSource = source;
        }
    }
};
