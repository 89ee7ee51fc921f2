#include "headless_relays.h"

namespace relais {

HeadlessRelays::HeadlessRelays(const PortResolver& resolver, QObject* parent)
    : QObject(parent), serial_(resolver), panel_(pointers(), noCaption_, noCaption_, serial_),
      link_(serial_, port_, timerSwitch_, startStop_, report_) {
    for (Button& button : buttons_) {
        button.owner = this;
    }
    startStop_.owner = this;
    timer_.setInterval(100);
    timer_.setTimerType(Qt::PreciseTimer); // a coarse timer may stretch 100 ms by 5 %
    connect(&timer_, &QTimer::timeout, this, &HeadlessRelays::tick);
    connect(&serial_, &QtSerialControl::lineLost, this, &HeadlessRelays::changed);
}

HeadlessRelays::~HeadlessRelays() {
    timer_.stop();
    link_.closePortOnExit();
}

RelayPanel::Buttons HeadlessRelays::pointers() {
    RelayPanel::Buttons result{};
    for (int k = 0; k < kRelayCount; ++k) {
        result[k] = &buttons_[k];
    }
    return result;
}

void HeadlessRelays::Button::setBackColor(Color color) {
    if (color != color_) {
        color_ = color;
        if (owner != nullptr) {
            owner->changed();
        }
    }
}

void HeadlessRelays::setRelays(quint16 mask) {
    for (int k = 1; k <= kRelayCount; ++k) {
        panel_.setRelay(k, (mask & relayWeight(k)) != 0);
    }
}

void HeadlessRelays::startOn(const PortSpec& port) {
    if (isRunning()) {
        return;
    }
    const ChosenPort before = port_;
    port_.index = port.number - 1;
    port_.device = port.device;
    if (port.number > 0) {
        serial_.setPortNumber(port.number);
    } else {
        serial_.setDevice(port.device);
    }
    try {
        link_.start();
    } catch (const CommError&) {
        port_ = before; // the port known stays one that worked
        throw;
    }
}

void HeadlessRelays::tick() {
    link_.runOnLine([this] { panel_.tick(); });
}

} // namespace relais
