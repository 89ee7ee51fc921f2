#pragma once

#include "colors.h"
#include "panel_interfaces.h"
#include "port_resolver.h"
#include "serial_control.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace relais {

inline const QString kLineSettings = QStringLiteral("9600,n,8,1");

// The port list: "COM 1" to "COM 8".
class PortList {
public:
    virtual ~PortList() = default;
    // Index of the chosen entry ("COM 1" is 0), -1 while none is chosen.
    virtual int chosenIndex() const = 0;
    // A device chosen other than from the list (by a script), used while
    // no entry is chosen; empty if none.
    virtual QString chosenDevice() const { return {}; }
    virtual void setEnabled(bool enabled) = 0;
    // Shows `port` as chosen, as a script's start does; returns what puts
    // back what was shown before (after a start that failed).
    virtual std::function<void()> choosePort(const PortSpec& port) = 0;
};

// What the list has chosen, as a port to start on; none while nothing is.
std::optional<PortSpec> chosenPort(const PortList& list);

class TickTimer {
public:
    virtual ~TickTimer() = default;
    virtual void setEnabled(bool enabled) = 0;
};

class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    // A modal box with an OK button only; returns when it is dismissed.
    virtual void showMessage(const QString& text, const QString& title) = 0;
};

// The message text for an error number; empty for "show nothing".
QString messageFor(const CommError& error);

// Starting and stopping the link with "Start/Stop", and closing on exit.
// The link's state is read from the port and the button colour every time.
class LinkControl {
public:
    LinkControl(SerialControl& serial, PortList& portList, TickTimer& timer,
                ColorButton& startStopButton, MessagePresenter& messages);

    void startStopClicked();
    void closePortOnExit();

    // For scripts: start on the port already set on the serial control, or
    // stop, as a click on "Start/Stop" would; a failure to open is thrown,
    // not shown. Each does nothing when the link is already so.
    void start();
    void stop();
    bool isRunning() const;

    // Runs a step that writes to the line (the tick, the resend). If the
    // line fails, the link is stopped and the user told, once.
    void runOnLine(const std::function<void()>& step);

    std::int16_t clickCount() const { return clickCount_; }

private:
    void openAndRun();
    void stopLink();
    void closePort();

    SerialControl& serial_;
    PortList& portList_;
    TickTimer& timer_;
    ColorButton& startStopButton_;
    MessagePresenter& messages_;

    // Keeps the click that starts the link from stopping it in the same click.
    std::int16_t clickCount_ = 0;
};

} // namespace relais
