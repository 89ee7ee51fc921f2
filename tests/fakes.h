#pragma once

// Plain stand-ins for the controls, recording what the logic does to them.

#include "controls.h"
#include "link_control.h"
#include "relay_panel.h"
#include "serial_control.h"

#include <QByteArrayList>
#include <QStringList>

#include <array>
#include <optional>

struct FakeButton : relais::ColorButton {
    relais::Color color = relais::kButtonFace;
    relais::Color BackColor() const override { return color; }
    void setBackColor(relais::Color c) override { color = c; }
};

struct FakeCaption : relais::CaptionTarget {
    explicit FakeCaption(QString initial = {}) : caption(std::move(initial)) {}
    QString caption;
    void setCaption(const QString& c) override { caption = c; }
};

struct FakeSerial : relais::SerialControl {
    // What happened, in order: "CommPort=2", "Settings=...", "open", "close",
    // "Output=00004", "OutBufferCount=0".
    QStringList log;
    bool open = false;
    int port = 1;
    QString settings = QStringLiteral("9600,n,8,1");
    int openError = 0;   // error raised by the next openings, 0 for none
    int outputError = 0; // error raised by the next Output, 0 for none
    bool closeFails = false;

    void setCommPort(int p) override {
        log << QStringLiteral("CommPort=%1").arg(p);
        port = p;
    }
    int CommPort() const override { return port; }
    void setSettings(const QString& s) override {
        log << QStringLiteral("Settings=") + s;
        settings = s;
    }
    QString Settings() const override { return settings; }
    void setPortOpen(bool o) override {
        log << (o ? QStringLiteral("open") : QStringLiteral("close"));
        if (o && openError != 0) {
            throw relais::CommError(openError, QStringLiteral("/dev/ttyFAKE"),
                                    QStringLiteral("reason"));
        }
        if (!o && closeFails) {
            open = false;
            throw relais::CommError(relais::kErrOpenFailed, QStringLiteral("/dev/ttyFAKE"),
                                    QStringLiteral("close failed"));
        }
        open = o;
    }
    bool PortOpen() const override { return open; }
    void setOutput(const QByteArray& d) override {
        if (outputError != 0) {
            const int e = outputError;
            outputError = 0;
            throw relais::CommError(e, QStringLiteral("/dev/ttyFAKE"), QStringLiteral("gone"));
        }
        log << QStringLiteral("Output=") + QString::fromLatin1(d);
    }
    void setOutBufferCount(int c) override { log << QStringLiteral("OutBufferCount=%1").arg(c); }

    QStringList outputs() const { return log.filter(QStringLiteral("Output=")); }
};

struct FakePortList : relais::PortList {
    int index = -1;
    bool enabled = true;
    int ListIndex() const override { return index; }
    void setEnabled(bool e) override { enabled = e; }
};

struct FakeTimer : relais::TickTimer {
    bool enabled = false;
    void setEnabled(bool e) override { enabled = e; }
};

struct FakeMessages : relais::MessagePresenter {
    QStringList texts;
    QStringList titles;
    // Whether the timer was still running when a box came up.
    const FakeTimer* timer = nullptr;
    bool timerRanBehindBox = false;
    void showMessage(const QString& text, const QString& title) override {
        texts << text;
        titles << title;
        if (timer != nullptr && timer->enabled) {
            timerRanBehindBox = true;
        }
    }
};

struct FakePanel {
    std::array<FakeButton, 16> buttons;
    relais::RelayPanel::Buttons pointers() {
        relais::RelayPanel::Buttons p{};
        for (int i = 0; i < 16; ++i) {
            p[i] = &buttons[i];
        }
        return p;
    }
};
