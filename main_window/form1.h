#pragma once

#include "link_control.h"
#include "qt_controls.h"
#include "qt_serial_control.h"
#include "relay_panel.h"

#include <QGroupBox>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <memory>

namespace relais {

// The program's one window: sixteen relay buttons, the port list,
// "Start/Stop" and "Beenden", and the timer that sends the relay pattern.
class Form1 : public QWidget {
    Q_OBJECT

public:
    // `resolver` maps COM n to devices and must outlive the window.
    // `messages` replaces the message boxes (for tests); null for the real ones.
    explicit Form1(const PortResolver& resolver, MessagePresenter* messages = nullptr,
                   QWidget* parent = nullptr);
    ~Form1() override;

    // Event handlers, each run for one event.
    void Command1_Click() { close(); }
    void Command2_Click();
    void Command3_Click() { relays_->relayClick(1); }
    void Command4_Click() { relays_->relayClick(2); }
    void Command5_Click() { relays_->relayClick(3); }
    void Command6_Click() { relays_->relayClick(4); }
    void Command7_Click() { relays_->relayClick(5); }
    void Command8_Click() { relays_->relayClick(6); }
    void Command9_Click() { relays_->relayClick(7); }
    void Command10_Click() { relays_->relayClick(8); }
    void Command11_Click() { relays_->relayClick(9); }
    void Command12_Click() { relays_->relayClick(10); }
    void Command13_Click() { relays_->relayClick(11); }
    void Command14_Click() { relays_->relayClick(12); }
    void Command15_Click() { relays_->relayClick(13); }
    void Command16_Click() { relays_->relayClick(14); }
    void Command17_Click() { relays_->relayClick(15); }
    void Command18_Click() { relays_->relayClick(16); }
    void Command19_Click() { link_->Command19_Click(); }
    void Timer1_Timer();

    QtSerialControl& comm() { return Comm1; }
    const LinkControl& link() const { return *link_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls(const PortResolver& resolver);
    void wireEvents();
    void Form_Unload(bool& Cancel);

    QtSerialControl Comm1;
    QTimer* Timer1 = nullptr;
    RelayPanel::Buttons relayButtons_{};
    GraphicalButton* Command19 = nullptr;
    PortComboBox* Combo1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;

    std::unique_ptr<LabelCaption> label1Caption_;
    std::unique_ptr<LabelCaption> label2Caption_;
    std::unique_ptr<QtTickTimer> timer_;
    std::unique_ptr<BoxMessages> boxes_;
    std::unique_ptr<RelayPanel> relays_;
    std::unique_ptr<LinkControl> link_;
    bool unloaded_ = false;
};

} // namespace relais
