#pragma once

// Plain stand-ins for the controls, recording what the logic does to them.

#include "link_control.h"
#include "relay_panel.h"

#include <QStringList>

struct FakeButton : relais::ColorButton {
    relais::Color color = relais::kButtonFace;
    relais::Color backColor() const override { return color; }
    void setBackColor(relais::Color c) override { color = c; }
};

struct FakeCaption : relais::CaptionTarget {
    QString caption;
    void setCaption(const QString& c) override { caption = c; }
};

// Logs "port=2", "settings=...", "open", "close", "write=00004", "discard".
struct FakeSerial : relais::SerialControl {
    QStringList log;
    bool opened = false;
    int openError = 0;  // raised by every opening, 0 for none
    int writeError = 0; // raised by the next write only
    bool closeFails = false;

    void setPortNumber(int p) override { log << QStringLiteral("port=%1").arg(p); }
    void setDevice(const QString& d) override { log << QStringLiteral("device=") + d; }
    QString device() const override { return QStringLiteral("/dev/ttyFAKE"); }
    void setSettings(const QString& s) override { log << QStringLiteral("settings=") + s; }
    void open() override {
        log << QStringLiteral("open");
        raise(openError);
        opened = true;
    }
    void close() override {
        log << QStringLiteral("close");
        opened = false;
        raise(closeFails ? relais::kErrOpenFailed : 0);
    }
    bool isOpen() const override { return opened; }
    void write(const QByteArray& d) override {
        raise(std::exchange(writeError, 0));
        log << QStringLiteral("write=") + QString::fromLatin1(d);
    }
    void discardPending() override { log << QStringLiteral("discard"); }

    static void raise(int number) {
        if (number != 0) {
            throw relais::CommError(number, QStringLiteral("/dev/ttyFAKE"),
                                    QStringLiteral("reason"));
        }
    }
};

struct FakePortList : relais::PortList {
    int index = -1;
    bool enabled = true;
    QString device;
    int chosenIndex() const override { return index; }
    QString chosenDevice() const override { return device; }
    void setEnabled(bool e) override { enabled = e; }
    std::function<void()> choosePort(const relais::PortSpec& port) override {
        const int before = index;
        const QString beforeDevice = device;
        index = port.number - 1;
        device = port.device;
        return [this, before, beforeDevice] {
            index = before;
            device = beforeDevice;
        };
    }
};

struct FakeTimer : relais::TickTimer {
    bool enabled = false;
    void setEnabled(bool e) override { enabled = e; }
};

// Notes whether the timer still ran when a box came up.
struct FakeMessages : relais::MessagePresenter {
    QStringList texts;
    const FakeTimer* timer = nullptr;
    bool timerRanBehindBox = false;
    void showMessage(const QString& text, const QString& title) override {
        texts << title + QStringLiteral(": ") + text;
        timerRanBehindBox = timerRanBehindBox || (timer != nullptr && timer->enabled);
    }
};

struct FakePanel {
    std::array<FakeButton, relais::kRelayCount> buttons;
    FakeCaption maskLabel, lengthLabel;
    relais::RelayPanel::Buttons pointers() {
        relais::RelayPanel::Buttons p{};
        for (int i = 0; i < relais::kRelayCount; ++i) {
            p[i] = &buttons[i];
        }
        return p;
    }
};
