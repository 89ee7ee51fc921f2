#include "relay_core.h"

namespace relais {

RelayCore::RelayCore(const PortResolver& resolver, QObject* parent)
    : QObject(parent), serial_(resolver), timer_(this) {
    timer_.setInterval(kTickInterval);
    timer_.setTimerType(Qt::PreciseTimer); // a coarse timer may stretch 100 ms by 5 %
    connect(&timer_, &QTimer::timeout, this, &RelayCore::tick);
    connect(&serial_, &QtSerialControl::lineLost, this, &RelayCore::viewChanged);
}

RelayCore::~RelayCore() {
    timer_.stop();
}

void RelayCore::attach(const Views& views) {
    views_ = views;
    panel_ = std::make_unique<RelayPanel>(views.relays, *views.maskCaption, *views.lengthCaption,
                                          serial_);
    link_ = std::make_unique<LinkControl>(serial_, *views.ports, timerSwitch_, *views.startStop,
                                          *views.messages);
    told_ = RelayState{relays(), isRunning(), portInUse(), 1};
}

void RelayCore::asOneChange(const std::function<void()>& work, const ChangeSource& source) {
    const ChangeSource outer = std::exchange(acting_, source);
    gate_.asOne(work);
    acting_ = outer;
}

void RelayCore::tellChange() {
    RelayChange change{
        {relays(), isRunning(), portInUse(), told_.revision + 1}, 0, false, false, acting_};
    change.flipped = change.state.pattern ^ told_.pattern;
    change.linkChanged = change.state.running != told_.running;
    change.portChanged = change.state.port != told_.port;
    if (change.flipped == 0 && !change.linkChanged && !change.portChanged) {
        return; // a colour came back to what it was
    }
    told_ = change.state;
    emit stateChanged(change);
}

void RelayCore::setRelays(quint16 mask) {
    for (int k = 1; k <= kRelayCount; ++k) {
        panel_->setRelay(k, (mask & relayWeight(k)) != 0);
    }
}

void RelayCore::startOn(const PortSpec& port) {
    if (isRunning()) {
        return;
    }
    const std::function<void()> putBack = views_.ports->choosePort(port);
    if (port.number > 0) {
        serial_.setPortNumber(port.number);
    } else {
        serial_.setDevice(port.device);
    }
    try {
        link_->start();
    } catch (const CommError&) {
        putBack(); // the port known stays one that worked
        throw;
    }
}

void RelayCore::tick() {
    link_->runOnLine([this] { panel_->tick(); });
}

void RelayCore::resendLastFrame() {
    link_->runOnLine([this] { panel_->resendLastFrame(); });
}

void RelayCore::closePortOnExit() {
    link_->closePortOnExit();
    timer_.stop(); // no tick after the port is closed
}

} // namespace relais
