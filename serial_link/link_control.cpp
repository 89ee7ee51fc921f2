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

LinkControl::LinkControl(SerialControl& comm, PortList& combo, TickTimer& timer,
                         ColorButton& startStop, MessagePresenter& messages)
    : comm_(comm), combo_(combo), timer_(timer), button_(startStop), messages_(messages) {}

void LinkControl::Command19_Click() {
    QString message;
    try {
        for (int k = 0; k <= 7; ++k) {
            const int listIndex = combo_.ListIndex();
            const Color color = button_.BackColor();
            const bool open = comm_.PortOpen();
            if (!open && color == kButtonFace && listIndex == k) {
                comm_.setCommPort(k + 1);
                comm_.setSettings(kLineSettings);
                comm_.setPortOpen(true);
                button_.setBackColor(kRed);
                timer_.setEnabled(true);
                ClickCount = 0;
                combo_.setEnabled(false);
            }
        }
        const Color color = button_.BackColor();
        const bool open = comm_.PortOpen();
        if (open && ClickCount == 1 && color == kRed) {
            stopLink();
            ClickCount = 0;
        }
        // Saturates rather than wrapping: only clicks that neither start nor
        // stop push it past 1, and for those the exact count does not matter.
        if (ClickCount < std::numeric_limits<std::int16_t>::max()) {
            ++ClickCount;
        }
    } catch (const CommError& error) {
        message = messageFor(error);
    }
    if (!message.isEmpty()) {
        messages_.showMessage(message, messages::kTitle);
    }
}

void LinkControl::Form_Unload(bool& Cancel) {
    Q_UNUSED(Cancel); // the unload always goes ahead
    if (comm_.PortOpen()) {
        closePort();
    }
}

void LinkControl::runOnLine(const std::function<void()>& step) {
    try {
        step();
    } catch (const CommError& error) {
        // Stop first, so that no tick runs behind the message box.
        stopLink();
        ClickCount = 1;
        messages_.showMessage(messageFor(error), messages::kTitle);
    }
}

void LinkControl::stopLink() {
    button_.setBackColor(kButtonFace);
    timer_.setEnabled(false); // before the port closes, so no tick meets a closed port
    closePort();
    combo_.setEnabled(true);
}

void LinkControl::closePort() {
    try {
        comm_.setPortOpen(false);
    } catch (const CommError&) {
        // A close that fails leaves nothing to do; the port counts as closed.
    }
}

} // namespace relais
