#pragma once

#include "announcer.h"
#include "color_buttons.h"
#include "link_control.h"
#include "port_combo_box.h"
#include "qt_adapters.h"
#include "qt_serial_control.h"
#include "relay_button_rules.h"
#include "relay_core.h"
#include "relay_operations.h"
#include "relay_panel.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace relais {

// The program's one window: sixteen relay buttons, the port list,
// "Start/Stop" and "Beenden", and the timer that sends the relay pattern.
class RelayWindow : public QWidget, public RelayOperations {
    Q_OBJECT

public:
    // `resolver` maps COM n to devices and must outlive the window.
    // `messages` replaces the message boxes (for tests); null for the real ones.
    explicit RelayWindow(const PortResolver& resolver, MessagePresenter* messages = nullptr,
                         QWidget* parent = nullptr);
    ~RelayWindow() override;

    // What the controls do, each run for one event.
    void relayClicked(int relay) {
        core_->asOneChange([this, relay] { core_->relayClicked(relay); }, inputSource());
    }
    void startStopClicked() {
        core_->asOneChange([this] { core_->startStopClicked(); }, inputSource());
    }
    void tick() { core_->tick(); }
    void resendLastFrame() { core_->resendLastFrame(); }

    QtSerialControl& serial() { return core_->serial(); }
    // The rules of the settings, before the first command.
    void setRules(const RelayRules& rules);
    const LinkControl& link() const { return core_->link(); }

    // For scripts and remote controls: the core's, with the same effect on
    // the buttons as clicks.
    void setRelay(int relay, bool on) override { core_->setRelay(relay, on); }
    void setRelays(quint16 mask) override { core_->setRelays(mask); }
    quint16 relays() const override { return core_->relays(); }
    bool isRunning() const override { return core_->isRunning(); }
    QString portInUse() const override { return core_->portInUse(); }
    void startOn(const PortSpec& port) override { core_->startOn(port); }
    std::optional<PortSpec> knownPort() const override { return core_->knownPort(); }
    void stop() override { core_->stop(); }
    std::optional<Refusal> switchTo(quint16 wanted, int single, qint64 pulseMs) override {
        return core_->switchTo(wanted, single, pulseMs);
    }
    const RelayRules& rules() const override { return core_->rules(); }
    void tellRefusal(const Refusal& refusal, const ChangeSource& source) override {
        core_->tellRefusal(refusal, source);
    }
    void watchRefusals(QObject* context, RefusalWatch watch) override {
        core_->watchRefusals(context, std::move(watch));
    }
    RelayCore& core() { return *core_; }
    RelayState state() const override { return core_->state(); }
    ScheduleControl* schedules() const override { return core_->schedules(); }
    std::optional<Refusal> pauseSchedules(bool paused) override {
        return core_->pauseSchedules(paused);
    }
    void scheduleMoved() override { core_->scheduleMoved(); }
    void watch(QObject* context, std::function<void(const RelayChange&)> changed) override {
        core_->watch(context, std::move(changed));
    }
    void asOneChange(const std::function<void()>& work, const ChangeSource& source) override {
        core_->asOneChange(work, source);
    }

protected:
    // Notes whether the buttons are used by mouse or by keyboard.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls(const PortResolver& resolver);
    GraphicalButton* relayButton(int relay) const {
        return static_cast<GraphicalButton*>(relayButtons_[relay - 1]);
    }
    void wireEvents();
    // Says what changed since the last announcement, once the event that
    // changed it is done (so that a pattern set at once is heard at once).
    void scheduleAnnouncement(const RelayChange& change);
    void announceChanges();
    ChangeSource inputSource() const {
        return {byKeyboard_ ? ChangeSource::Kind::WindowKeyboard : ChangeSource::Kind::WindowMouse,
                {}};
    }

    RelayCore* core_ = nullptr; // a child: lives as long as the window
    RelayPanel::Buttons relayButtons_{};
    GraphicalButton* startStopButton_ = nullptr;
    QPushButton* quitButton_ = nullptr;
    QPushButton* resendButton_ = nullptr;
    PortComboBox* portList_ = nullptr;
    QLabel* maskLabel_ = nullptr;
    QLabel* lengthLabel_ = nullptr;
    Announcer* announcer_ = nullptr;
    // What the changes since the last announcement flipped, in sum.
    quint16 unannouncedRelays_ = 0;
    bool unannouncedLink_ = false;
    RelayState told_;
    bool announcementPending_ = false;
    bool byKeyboard_ = false;

    std::unique_ptr<LabelCaption> maskCaption_;
    std::unique_ptr<LabelCaption> lengthCaption_;
    std::unique_ptr<BoxMessages> boxes_;
    MessagePresenter* messages_ = nullptr;
    bool closed_ = false;
};

} // namespace relais
