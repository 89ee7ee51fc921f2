#pragma once

#include "link_control.h"
#include "qt_serial_control.h"
#include "relay_operations.h"
#include "relay_panel.h"

#include <QObject>
#include <QTimer>

#include <array>

namespace relais {

// The relays and the link without a window: the same panel and link logic
// the window runs, over plain values instead of buttons, and the same
// 100 ms tick. A failure of the line stops the link and is reported through
// lineLost() instead of a message box.
class HeadlessRelays : public QObject, public RelayOperations {
    Q_OBJECT

public:
    explicit HeadlessRelays(const PortResolver& resolver, QObject* parent = nullptr);
    ~HeadlessRelays() override;

    void setRelay(int relay, bool on) override { panel_.setRelay(relay, on); }
    void setRelays(quint16 mask) override;
    quint16 relays() const override { return quint16(panel_.shownMask()); }
    bool isRunning() const override { return link_.isRunning(); }
    QString portInUse() const override { return isRunning() ? serial_.device() : QString(); }
    void startOn(const PortSpec& port) override;
    std::optional<PortSpec> knownPort() const override { return chosenPort(port_); }
    void stop() override { link_.stop(); }
    void watch(QObject* context, std::function<void()> changed) override {
        connect(this, &HeadlessRelays::stateChanged, context, std::move(changed));
    }
    void asOneChange(const std::function<void()>& work) override { gate_.asOne(work); }

    // Closes the port without sending anything more.
    void closePort() { link_.closePortOnExit(); }
    void tick();

signals:
    void stateChanged();
    // The line went away; `message` is the text the window would show.
    void lineLost(const QString& message);

private:
    // A button as a plain colour; tells the watchers when it changes.
    class Button : public ColorButton {
    public:
        Color backColor() const override { return color_; }
        void setBackColor(Color color) override;
        HeadlessRelays* owner = nullptr;

    private:
        Color color_ = kButtonFace;
    };
    struct NoCaption : CaptionTarget {
        void setCaption(const QString&) override {}
    };
    struct ChosenPort : PortList {
        int index = -1;
        QString device;
        int chosenIndex() const override { return index; }
        QString chosenDevice() const override { return device; }
        void setEnabled(bool) override {}
    };
    struct TimerSwitch : TickTimer {
        explicit TimerSwitch(QTimer& t) : timer(t) {}
        void setEnabled(bool enabled) override { enabled ? timer.start() : timer.stop(); }
        QTimer& timer;
    };
    struct Report : MessagePresenter {
        explicit Report(HeadlessRelays& o) : owner(o) {}
        void showMessage(const QString& text, const QString&) override {
            emit owner.lineLost(text);
        }
        HeadlessRelays& owner;
    };
    void changed() { gate_.changed(); }

    ChangeGate gate_{[this] { emit stateChanged(); }};
    QtSerialControl serial_;
    QTimer timer_;
    std::array<Button, kRelayCount> buttons_;
    Button startStop_;
    NoCaption noCaption_;
    ChosenPort port_;
    TimerSwitch timerSwitch_{timer_};
    Report report_{*this};
    RelayPanel::Buttons pointers();
    RelayPanel panel_;
    LinkControl link_;
};

} // namespace relais
