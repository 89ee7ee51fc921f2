#pragma once

#include "core_clock.h"
#include "last_state.h"
#include "link_control.h"
#include "qt_serial_control.h"
#include "relay_operations.h"
#include "relay_panel.h"
#include "rule_keeper.h"

#include <QObject>
#include <QTimer>

#include <memory>

namespace relais {

// The one relay core, behind the window and the run without one alike: the
// relay panel's logic, the link's, the serial port and the 100 ms tick.
// What shows the state (buttons, "Start/Stop", the port list, messages) is
// handed in as views: widgets in the window, plain values without one. The
// colours of those views are the state of record.
class RelayCore : public QObject, public RelayOperations {
    Q_OBJECT

public:
    struct Views {
        RelayPanel::Buttons relays{};
        ColorButton* startStop = nullptr;
        PortList* ports = nullptr;
        MessagePresenter* messages = nullptr;
        CaptionTarget* maskCaption = nullptr;
        CaptionTarget* lengthCaption = nullptr;
    };
    // `resolver` maps COM n to devices and must outlive the core.
    RelayCore(const PortResolver& resolver, QObject* parent);
    ~RelayCore() override;
    // Once, before anything else: the views live as long as the core.
    void attach(const Views& views);
    // The rules of the settings, and the clock they run on (tests give a
    // fake one), before the first command.
    void setRules(const RelayRules& rules) { keeper_ = RuleKeeper(rules); }
    void setClock(CoreClock* clock) { clock_ = clock; }
    // When a relay that is on goes off by itself; none otherwise.
    std::optional<qint64> offAt(int relay) const { return keeper_.offAt(relay, relays()); }
    const CoreClock& clock() const { return *clock_; }
    // power_on = last: what to keep, and showing it again at start as far
    // as it holds now (ends passed: off; an interlock broken: the group
    // off), each thing that did not hold said in `said`.
    LastState lastState() const;
    void restore(const LastState& state, QStringList& said);
    // Keeps the state in `path` after every change.
    void keepLastState(const QString& path);
    // power_on = last at start: the state kept in `path` shown again, and
    // kept from now on; a file that cannot be read means all off, said.
    void startFromLastState(const QString& path, QStringList& said);
    // The pattern of the last frame handed to the port.
    quint16 lastFrame() const { return lastFrame_; }

    void setRelay(int relay, bool on) override { panel_->setRelay(relay, on); }
    void setRelays(quint16 mask) override;
    quint16 relays() const override { return quint16(panel_->shownMask()); }
    bool isRunning() const override { return link_->isRunning(); }
    QString portInUse() const override { return isRunning() ? serial_.device() : QString(); }
    // The port list shows the port; after a failure, what it showed before.
    void startOn(const PortSpec& port) override;
    std::optional<PortSpec> knownPort() const override { return chosenPort(*views_.ports); }
    void stop() override { link_->stop(); }
    std::optional<Refusal> switchTo(quint16 wanted, int single, qint64 pulseMs) override;
    const RelayRules& rules() const override { return keeper_.rules(); }
    void tellRefusal(const Refusal& refusal, const ChangeSource& source) override {
        emit refused(refusal, source);
    }
    void watchRefusals(QObject* context, RefusalWatch watch) override {
        connect(this, &RelayCore::refused, context, std::move(watch));
    }
    RelayState state() const override { return told_; }
    void watch(QObject* context, std::function<void(const RelayChange&)> changed) override {
        connect(this, &RelayCore::stateChanged, context, std::move(changed));
    }
    void asOneChange(const std::function<void()>& work, const ChangeSource& source) override;
    ScheduleControl* schedules() const override { return schedules_; }
    void setSchedules(ScheduleControl* schedules) { schedules_ = schedules; }
    std::optional<Refusal> pauseSchedules(bool paused) override;
    void scheduleMoved() override {
        asOneChange([this] { gate_.changed(); }, {ChangeSource::Kind::Schedule, {}});
    }

    // What the controls do, each run for one event.
    void relayClicked(int relay) { panel_->toggleRelay(relay); }
    void startStopClicked() { link_->startStopClicked(); }
    void tick();
    void resendLastFrame();
    // Closes the port without sending anything more; no tick follows.
    void closePortOnExit();
    // A view's colour changed: the watchers hear of it.
    void viewChanged() { gate_.changed(); }

    QtSerialControl& serial() { return serial_; }
    QTimer& tickTimer() { return timer_; }
    const LinkControl& link() const { return *link_; }

signals:
    // A relay, the link or the port changed: once per change.
    void stateChanged(const RelayChange& change);
    // Something the rules did that someone should read.
    void notice(const QString& line);
    // A command was refused.
    void refused(const Refusal& refusal, const ChangeSource& source);

private:
    struct TimerSwitch : TickTimer {
        explicit TimerSwitch(QTimer& t) : timer(t) {}
        void setEnabled(bool enabled) override { enabled ? timer.start() : timer.stop(); }
        QTimer& timer;
    };

    // Tells the watchers what differs from what they were told last.
    void tellChange();
    // What the rules do by themselves when it is due, and the next wake-up.
    void runDue();
    void wakeForNextDeadline();
    // Every frame passes the rules last, on its way to the port.
    struct GuardedLine : FrameSink {
        GuardedLine(RelayCore& c) : core(c) {}
        void write(const QByteArray& frame) override;
        void discardPending() override { core.serial_.discardPending(); }
        RelayCore& core;
    };

    ChangeGate gate_{[this] { tellChange(); }};
    ChangeSource acting_; // the maker of the change underway: the line outside any command
    RelayState told_;
    ScheduleControl* schedules_ = nullptr;
    QtSerialControl serial_;
    SteadyClock steadyClock_{this};
    CoreClock* clock_ = &steadyClock_;
    RuleKeeper keeper_;
    quint16 lastFrame_ = 0;
    GuardedLine guardedLine_{*this};
    QTimer timer_;
    TimerSwitch timerSwitch_{timer_};
    Views views_;
    std::unique_ptr<RelayPanel> panel_;
    std::unique_ptr<LinkControl> link_;
};

} // namespace relais
