#pragma once

#include "relay_command.h"
#include "relay_operations.h"
#include "relay_rules.h"
#include "schedule_clock.h"
#include "schedule_control.h"
#include "schedule_plan.h"

#include <QObject>

#include <array>
#include <functional>

namespace relais {

// Runs the schedules on the one relay core, as commands with the source
// "Zeitplan". Windows switch at their edges and, after a start, a resume,
// a set clock or a pause, apply what they say for now; missed events run
// once if their entry allows it; nothing runs twice, also when the clock
// goes back (the instant up to which all is done is kept, with the pause,
// in a small file).
class ScheduleRunner : public QObject, public ScheduleControl {
    Q_OBJECT
public:
    static constexpr qint64 kOnTimeMs = 2000; // later than this is "missed"

    ScheduleRunner(RelayOperations& relays, const RelayRules& rules, Schedules schedules,
                   ScheduleClock& clock, QString statePath, qint64 builtAtMs,
                   std::function<void(const QString&)> say, QObject* parent = nullptr);

    void begin(); // at start: catch up, then wait for the next time
    const Schedules& schedules() const { return schedules_; }

    // What the ways in see, through the relay core.
    bool paused() const override { return paused_; }
    void setPaused(bool paused) override;
    QJsonArray coming(int days) const override;
    qint64 nextSwitch(int relay) const override { return nextSwitch_.at(relay - 1); }
    qint64 heldUntil(int relay) const override { return heldUntil_.at(relay - 1); }
    quint16 scheduledRelays() const override;

signals:
    // Each switch made as planned, as the preview lists it (not catch-ups).
    void switched(const Occurrence& occurrence, int relay);

private:
    void clockSet();
    void runDue(bool catchUp);
    void runOccurrence(const Occurrence& o, qint64 now);
    void applyWindows(qint64 now);
    void command(const RelayCommand::Made& made, const ScheduleEntry& entry, const QString& note);
    void handChange(const RelayChange& change);
    void arm();
    void refreshPlan(); // each relay's next switching time, then the watchers told
    void save();
    bool clockRight(qint64 now);

    RelayOperations& relays_;
    const RelayRules& rules_;
    Schedules schedules_;
    ScheduleClock& clock_;
    QString statePath_;
    qint64 builtAtMs_;
    std::function<void(const QString&)> say_;
    qint64 doneUntil_ = 0; // events up to here are done (kept across a restart)
    qint64 lastRun_ = 0;   // window edges up to here are done
    bool paused_ = false;
    bool running_ = false; // inside a command of our own
    bool clockWasWrong_ = false;
    bool tellPending_ = false;
    std::array<qint64, kRelayCount> heldUntil_{};
    std::array<qint64, kRelayCount> nextSwitch_{};
};

} // namespace relais
