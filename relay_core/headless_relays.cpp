#include "headless_relays.h"

namespace relais {

HeadlessRelays::HeadlessRelays(const PortResolver& resolver, QObject* parent)
    : RelayCore(resolver, parent) {
    Views views;
    for (int k = 0; k < kRelayCount; ++k) {
        buttons_[k].owner = this;
        views.relays[k] = &buttons_[k];
    }
    startStop_.owner = this;
    views.startStop = &startStop_;
    views.ports = &port_;
    views.messages = &report_;
    views.maskCaption = &noCaption_;
    views.lengthCaption = &noCaption_;
    attach(views);
}

HeadlessRelays::~HeadlessRelays() {
    closePortOnExit();
}

void HeadlessRelays::Button::setBackColor(Color color) {
    if (color != color_) {
        color_ = color;
        if (owner != nullptr) {
            owner->viewChanged();
        }
    }
}

std::function<void()> HeadlessRelays::ChosenPort::choosePort(const PortSpec& port) {
    const ChosenPort before = *this;
    index = port.number - 1;
    device = port.device;
    return [this, before] {
        index = before.index;
        device = before.device;
    };
}

} // namespace relais
