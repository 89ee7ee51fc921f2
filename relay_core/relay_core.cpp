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
                                          guardedLine_);
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
    RelayChange change;
    change.state = {relays(), isRunning(), portInUse(), told_.revision + 1, {}};
    change.source = acting_;
    change.flipped = change.state.pattern ^ told_.pattern;
    change.linkChanged = change.state.running != told_.running;
    change.portChanged = change.state.port != told_.port;
    keeper_.shownChanged(told_.pattern, change.state.pattern, clock_->now());
    const qint64 toWall = clock_->wallNow() - clock_->now();
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        const auto end = keeper_.offAt(relay, change.state.pattern);
        change.state.offAt[relay - 1] = end ? *end + toWall : 0;
    }
    change.offAtChanged = change.state.offAt != told_.offAt;
    if (schedules_ != nullptr) {
        change.state.schedulesPaused = schedules_->paused();
        for (int relay = 1; relay <= kRelayCount; ++relay) {
            change.state.nextSwitch[relay - 1] = schedules_->nextSwitch(relay);
            change.state.heldUntil[relay - 1] = schedules_->heldUntil(relay);
        }
    }
    change.pausedChanged = change.state.schedulesPaused != told_.schedulesPaused;
    change.scheduleChanged = change.pausedChanged || change.state.nextSwitch != told_.nextSwitch ||
                             change.state.heldUntil != told_.heldUntil;
    if (change.flipped == 0 && !change.linkChanged && !change.portChanged && !change.offAtChanged &&
        !change.scheduleChanged) {
        return; // a colour came back to what it was
    }
    told_ = change.state;
    wakeForNextDeadline();
    emit stateChanged(change);
}

std::optional<Refusal> RelayCore::pauseSchedules(bool paused) {
    if (schedules_ == nullptr) {
        return Refusal{Refusal::Kind::Conflict, kNoSchedules, {}, 0, {}};
    }
    schedules_->setPaused(paused);
    gate_.changed();
    return std::nullopt;
}

std::optional<Refusal> RelayCore::switchTo(quint16 wanted, int single, qint64 pulseMs) {
    const auto admitted = keeper_.admit(relays(), wanted, single, clock_->now(), pulseMs);
    if (const auto* refusal = std::get_if<Refusal>(&admitted)) {
        return *refusal;
    }
    setRelays(std::get<quint16>(admitted));
    gate_.changed(); // a renewed pulse changes no relay, but its end
    return std::nullopt;
}

LastState RelayCore::lastState() const {
    LastState state;
    state.pattern = relays();
    const qint64 toWall = clock_->wallNow() - clock_->now();
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        const RuleKeeper::Ends ends = keeper_.endsOf(relay);
        state.pulseEnd[relay - 1] = ends.pulse > 0 ? ends.pulse + toWall : 0;
        state.maxOnEnd[relay - 1] = ends.maxOn > 0 ? ends.maxOn + toWall : 0;
    }
    return state;
}

void RelayCore::restore(const LastState& state, QStringList& said) {
    const qint64 wall = clock_->wallNow();
    const qint64 fromWall = clock_->now() - wall;
    quint16 pattern = state.pattern;
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        const qint64 pulse = state.pulseEnd[relay - 1];
        const qint64 maxOn = state.maxOnEnd[relay - 1];
        if ((pulse > 0 && pulse <= wall) || (maxOn > 0 && maxOn <= wall)) {
            pattern &= ~relayWeight(relay); // its end passed while the program was down
        }
    }
    QString why;
    const quint16 safe = keeper_.safeFrame(pattern, &why);
    if (safe != pattern) {
        said << why;
    }
    asOneChange([&] { setRelays(safe); }, {ChangeSource::Kind::StartUp, {}});
    for (int relay = 1; relay <= kRelayCount; ++relay) {
        if (safe & relayWeight(relay)) {
            const qint64 pulse = state.pulseEnd[relay - 1];
            const qint64 maxOn = state.maxOnEnd[relay - 1];
            // The time left, not a new full length.
            keeper_.restoreEnds(
                relay, {pulse > 0 ? pulse + fromWall : 0, maxOn > 0 ? maxOn + fromWall : 0});
        }
    }
    gate_.changed(); // the ends, as they are now
}

void RelayCore::keepLastState(const QString& path) {
    watch(this, [this, path](const RelayChange&) {
        if (const auto error = saveLastState(path, lastState())) {
            emit notice(QStringLiteral("Letzter Zustand nicht gespeichert: %1").arg(*error));
        }
    });
}

void RelayCore::startFromLastState(const QString& path, QStringList& said) {
    const auto loaded = loadLastState(path);
    if (const auto* error = std::get_if<QString>(&loaded)) {
        said << QStringLiteral("Letzter Zustand: %1; alle Relais bleiben aus.").arg(*error);
    } else {
        restore(std::get<LastState>(loaded), said);
    }
    keepLastState(path);
}

void RelayCore::runDue() {
    for (const RuleKeeper::Step& step : keeper_.due(relays(), clock_->now())) {
        asOneChange([&] { panel_->setRelay(step.relay, step.on); },
                    {step.cause, keeper_.rules().label(step.relay)});
    }
    wakeForNextDeadline();
}

void RelayCore::wakeForNextDeadline() {
    if (const auto next = keeper_.nextDeadline(relays())) {
        clock_->wakeAt(*next, [this] { runDue(); });
    } else {
        clock_->stopWaking();
    }
}

void RelayCore::GuardedLine::write(const QByteArray& frame) {
    QString why;
    const quint16 mask = quint16(frame.toUInt());
    const quint16 safe = core.keeper_.safeFrame(mask, &why);
    if (safe != mask) {
        emit core.notice(why);
    }
    core.serial_.write(safe == mask ? frame : commandFrame(QString::number(safe)));
    core.keeper_.frameHanded(safe);
    core.lastFrame_ = safe;
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
    link_->runOnLine([this] {
        if (!keeper_.rules().groups.isEmpty() && serial_.everythingSent()) {
            keeper_.everythingLeft(clock_->now());
        }
        runDue(); // a member whose group has just become clear goes on now
        panel_->tick();
    });
}

void RelayCore::resendLastFrame() {
    link_->runOnLine([this] { panel_->resendLastFrame(); });
}

void RelayCore::closePortOnExit() {
    link_->closePortOnExit();
    timer_.stop(); // no tick after the port is closed
}

} // namespace relais
