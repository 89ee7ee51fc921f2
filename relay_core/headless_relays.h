#pragma once

#include "relay_core.h"

#include <array>

namespace relais {

// The relay core without a window: its views are plain values. A failure of
// the line stops the link and is reported through lineLost() instead of a
// message box.
class HeadlessRelays : public RelayCore {
    Q_OBJECT

public:
    explicit HeadlessRelays(const PortResolver& resolver, QObject* parent = nullptr);
    ~HeadlessRelays() override;

    // Closes the port without sending anything more.
    void closePort() { closePortOnExit(); }

signals:
    // The line went away; `message` is the text the window would show.
    void lineLost(const QString& message);

private:
    // A button as a plain colour; tells the core's watchers when it changes.
    class Button : public ColorButton {
    public:
        Color backColor() const override { return color_; }
        void setBackColor(Color color) override;
        RelayCore* owner = nullptr;

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
        std::function<void()> choosePort(const PortSpec& port) override;
    };
    struct Report : MessagePresenter {
        explicit Report(HeadlessRelays& o) : owner(o) {}
        void showMessage(const QString& text, const QString&) override {
            emit owner.lineLost(text);
        }
        HeadlessRelays& owner;
    };

    std::array<Button, kRelayCount> buttons_;
    Button startStop_;
    NoCaption noCaption_;
    ChosenPort port_;
    Report report_{*this};
};

} // namespace relais
