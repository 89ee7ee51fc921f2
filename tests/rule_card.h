#pragma once

// The rules and a card on a line, in fake time: commands as the core gives
// them to the rules, a frame handed to the port every 100 ms, and each
// frame's fate recorded. A stalled line keeps only the newest frame, as the
// port does, and lets nothing leave until it moves again.

#include "rule_keeper.h"

#include <QList>

struct RuleCard {
    struct Frame {
        qint64 handedAt = 0;
        quint16 mask = 0;
        qint64 leftAt = -1; // -1: still waiting, or dropped for a newer one
    };
    relais::RuleKeeper keeper;
    quint16 shown = 0;
    qint64 now = 0;
    bool stalled = false;
    QList<Frame> frames;
    QList<relais::RuleKeeper::Step> steps; // what the rules did by themselves
    QString lastWarning;

    explicit RuleCard(relais::RelayRules rules) : keeper(std::move(rules)) {}

    std::optional<relais::Refusal> command(quint16 wanted, int single = 0, qint64 pulseMs = 0) {
        const auto admitted = keeper.admit(shown, wanted, single, now, pulseMs);
        if (const auto* refusal = std::get_if<relais::Refusal>(&admitted)) {
            return *refusal;
        }
        show(std::get<quint16>(admitted));
        return std::nullopt;
    }
    std::optional<relais::Refusal> set(int relay, bool on, qint64 pulseMs = 0) {
        const quint16 bit = quint16(relais::relayWeight(relay));
        return command(on ? quint16(shown | bit) : quint16(shown & ~bit), on ? relay : -relay,
                       pulseMs);
    }
    void show(quint16 pattern) {
        keeper.shownChanged(shown, pattern, now);
        shown = pattern;
    }
    // Time goes by in steps of 10 ms; the rules' steps run when due, a frame
    // is handed to the port on every tick.
    void advance(qint64 ms) {
        for (qint64 end = now + ms; now < end;) {
            now += 10;
            if (!stalled) {
                for (Frame& f : frames) {
                    if (f.leftAt < 0 && f.handedAt >= 0) {
                        f.leftAt = now;
                    }
                }
            }
            for (const auto& step : keeper.due(shown, now)) {
                const quint16 bit = quint16(relais::relayWeight(step.relay));
                show(step.on ? quint16(shown | bit) : quint16(shown & ~bit));
                steps << step;
            }
            if (now % 100 == 0) {
                tick();
            }
        }
    }
    void tick() {
        const bool allLeft = std::all_of(frames.begin(), frames.end(), [](const Frame& f) {
            return f.leftAt >= 0 || f.handedAt < 0;
        });
        if (allLeft) {
            keeper.everythingLeft(now);
        }
        if (stalled && !frames.isEmpty() && frames.last().leftAt < 0) {
            frames.last().handedAt = -1; // the port keeps only the newest
        }
        const quint16 frame = keeper.safeFrame(shown, &lastWarning);
        keeper.frameHanded(frame);
        frames << Frame{now, frame, -1};
    }
    // The frames that left the port, in order.
    QList<Frame> sent() const {
        QList<Frame> out;
        for (const Frame& f : frames) {
            if (f.leftAt >= 0) {
                out << f;
            }
        }
        return out;
    }
};
