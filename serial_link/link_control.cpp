#include "link_control.h"

#include "messages.h"

#include <limits>

namespace relais {

QString messageFor(const CommError& error) {
    const QString detail = QStringLiteral("\n%1: %2").arg(error.device(), error.reason());
    switch (error.number()) {
    case 0:
        return {};
    case kErrPortNotFound:
        return messages::kPortNotFound;
    case kErrPortInUse:
        return messages::kPortInUse;
    case kErrPermissionDenied:
        return messages::kPermissionDenied + detail;
    case kErrLineLost:
        return messages::kLineLost + detail;
    default:
        return messages::kOpenFailed + detail;
    }
}

LinkControl::LinkControl(SerialControl& serial, PortList& portList, TickTimer& timer,
                         ColorButton& startStopButton, MessagePresenter& messages)
    : serial_(serial), portList_(portList), timer_(timer), startStopButton_(startStopButton),
      messages_(messages) {}

void LinkControl::startStopClicked() {
    QString message;
    try {
        // Each entry is tested against the state as it is now, so a click
        // opens at most one port.
        for (int index = 0; index <= 7; ++index) {
            const int chosen = portList_.chosenIndex();
            const Color color = startStopButton_.backColor();
            const bool open = serial_.isOpen();
            if (!open && color == kButtonFace && chosen == index) {
                serial_.setPortNumber(index + 1);
                openAndRun();
            }
        }
        if (!serial_.isOpen() && startStopButton_.backColor() == kButtonFace &&
            portList_.chosenIndex() < 0 && !portList_.chosenDevice().isEmpty()) {
            serial_.setDevice(portList_.chosenDevice());
            openAndRun();
        }
        const Color color = startStopButton_.backColor();
        const bool open = serial_.isOpen();
        if (open && clickCount_ == 1 && color == kRed) {
            stopLink();
            clickCount_ = 0;
        }
        // Saturates rather than wrapping: only clicks that neither start nor
        // stop push it past 1, and for those the exact count does not matter.
        if (clickCount_ < std::numeric_limits<std::int16_t>::max()) {
            ++clickCount_;
        }
    } catch (const CommError& error) {
        message = messageFor(error);
    }
    if (!message.isEmpty()) {
        messages_.showMessage(message, messages::kTitle);
    }
}

void LinkControl::openAndRun() {
    serial_.setSettings(kLineSettings);
    serial_.open();
    startStopButton_.setBackColor(kRed);
    timer_.setEnabled(true);
    clickCount_ = 0;
    portList_.setEnabled(false);
}

std::optional<PortSpec> chosenPort(const PortList& list) {
    if (list.chosenIndex() >= 0) {
        return PortSpec{list.chosenIndex() + 1, {}};
    }
    if (!list.chosenDevice().isEmpty()) {
        return PortSpec{0, list.chosenDevice()};
    }
    return std::nullopt;
}

void LinkControl::start() {
    if (serial_.isOpen() || startStopButton_.backColor() != kButtonFace) {
        return;
    }
    openAndRun();
    clickCount_ = 1; // as after a starting click: the next click stops
}

void LinkControl::stop() {
    if (isRunning()) {
        stopLink();
        clickCount_ = 1;
    }
}

bool LinkControl::isRunning() const {
    return serial_.isOpen() && startStopButton_.backColor() == kRed;
}

void LinkControl::closePortOnExit() {
    if (serial_.isOpen()) {
        closePort();
    }
}

void LinkControl::runOnLine(const std::function<void()>& step) {
    try {
        step();
    } catch (const CommError& error) {
        // Stop first, so that no tick runs behind the message box.
        stopLink();
        clickCount_ = 1;
        messages_.showMessage(messageFor(error), messages::kTitle);
    }
}

void LinkControl::stopLink() {
    startStopButton_.setBackColor(kButtonFace);
    timer_.setEnabled(false); // before the port closes, so no tick meets a closed port
    closePort();
    portList_.setEnabled(true);
}

void LinkControl::closePort() {
    try {
        serial_.close();
    } catch (const CommError&) {
        // A close that fails leaves nothing to do; the port counts as closed.
    }
}

} // namespace relais
