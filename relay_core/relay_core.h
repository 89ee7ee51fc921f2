#pragma once

#include "link_control.h"
#include "qt_serial_control.h"
#include "relay_operations.h"
#include "relay_panel.h"

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

    void setRelay(int relay, bool on) override { panel_->setRelay(relay, on); }
    void setRelays(quint16 mask) override;
    quint16 relays() const override { return quint16(panel_->shownMask()); }
    bool isRunning() const override { return link_->isRunning(); }
    QString portInUse() const override { return isRunning() ? serial_.device() : QString(); }
    // The port list shows the port; after a failure, what it showed before.
    void startOn(const PortSpec& port) override;
    std::optional<PortSpec> knownPort() const override { return chosenPort(*views_.ports); }
    void stop() override { link_->stop(); }
    RelayState state() const override { return told_; }
    void watch(QObject* context, std::function<void(const RelayChange&)> changed) override {
        connect(this, &RelayCore::stateChanged, context, std::move(changed));
    }
    void asOneChange(const std::function<void()>& work, const ChangeSource& source) override;

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

private:
    struct TimerSwitch : TickTimer {
        explicit TimerSwitch(QTimer& t) : timer(t) {}
        void setEnabled(bool enabled) override { enabled ? timer.start() : timer.stop(); }
        QTimer& timer;
    };

    // Tells the watchers what differs from what they were told last.
    void tellChange();

    ChangeGate gate_{[this] { tellChange(); }};
    ChangeSource acting_; // the maker of the change underway: the line outside any command
    RelayState told_;
    QtSerialControl serial_;
    QTimer timer_;
    TimerSwitch timerSwitch_{timer_};
    Views views_;
    std::unique_ptr<RelayPanel> panel_;
    std::unique_ptr<LinkControl> link_;
};

} // namespace relais
