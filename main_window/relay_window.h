#pragma once

#include "announcer.h"
#include "color_buttons.h"
#include "link_control.h"
#include "port_combo_box.h"
#include "qt_adapters.h"
#include "qt_serial_control.h"
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
    void relayClicked(int relay) { panel_->toggleRelay(relay); }
    void startStopClicked() { link_->startStopClicked(); }
    void tick();
    void resendLastFrame();

    QtSerialControl& serial() { return serial_; }
    const LinkControl& link() const { return *link_; }

    // For scripts, with the same effect on the buttons as clicks.
    void setRelay(int relay, bool on) override { panel_->setRelay(relay, on); }
    void setRelays(quint16 mask) override;
    quint16 relays() const override { return quint16(panel_->shownMask()); }
    bool isRunning() const override { return link_->isRunning(); }
    QString portInUse() const override { return isRunning() ? serial_.device() : QString(); }
    // The port field shows the port; after a failure, what it showed before.
    void startOn(const PortSpec& port) override;
    std::optional<PortSpec> knownPort() const override { return chosenPort(*portList_); }
    void stop() override { link_->stop(); }
    void watch(QObject* context, std::function<void()> changed) override {
        connect(this, &RelayWindow::stateChanged, context, std::move(changed));
    }
    void asOneChange(const std::function<void()>& work) override { gate_.asOne(work); }

signals:
    // A relay, the link or the port changed.
    void stateChanged();

protected:
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
    void scheduleAnnouncement();
    void announceChanges();

    ChangeGate gate_{[this] { emit stateChanged(); }};
    QtSerialControl serial_;
    QTimer tickTimer_;
    RelayPanel::Buttons relayButtons_{};
    GraphicalButton* startStopButton_ = nullptr;
    QPushButton* quitButton_ = nullptr;
    QPushButton* resendButton_ = nullptr;
    PortComboBox* portList_ = nullptr;
    QLabel* maskLabel_ = nullptr;
    QLabel* lengthLabel_ = nullptr;
    Announcer* announcer_ = nullptr;
    quint16 announcedRelays_ = 0;
    bool announcedRunning_ = false;
    bool announcementPending_ = false;

    std::unique_ptr<LabelCaption> maskCaption_;
    std::unique_ptr<LabelCaption> lengthCaption_;
    std::unique_ptr<QtTickTimer> timerSwitch_;
    std::unique_ptr<BoxMessages> boxes_;
    std::unique_ptr<RelayPanel> panel_;
    std::unique_ptr<LinkControl> link_;
    bool closed_ = false;
};

} // namespace relais
