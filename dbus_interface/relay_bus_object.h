#pragma once

#include "relay_command.h"
#include "relay_operations.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>

namespace relais {

// The window as scripts see it on the session bus. Switching relays acts as
// clicks do; Start and Stop as "Start/Stop" does, but a refusal goes back to
// the caller as a D-Bus error instead of a message box: InvalidArgs for a bad
// argument, Error.Busy while the link runs on another port, and the port's
// own error name for a failed opening.
class RelayBusObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "de.korvander.Relaiskarte1")
    Q_PROPERTY(uint Relays READ relays)
    Q_PROPERTY(bool Running READ running)
    Q_PROPERTY(QString Port READ port)
    Q_PROPERTY(bool SchedulesPaused READ schedulesPaused)

public:
    // Lives as long as `owner`, which must outlive nothing the relays do.
    RelayBusObject(RelayOperations& relays, QObject* owner);
    ~RelayBusObject() override;

    // Makes the object reachable on `bus` and asks for the well-known name;
    // tells whether the name was had (a second window goes without).
    bool publish(QDBusConnection bus);

    uint relays() const { return relays_.relays(); }
    bool running() const { return relays_.isRunning(); }
    QString port() const { return relays_.portInUse(); }
    bool schedulesPaused() const { return relays_.state().schedulesPaused; }

public slots:
    void SetRelay(uint relay, bool on);
    void SetRelays(uint mask);
    // On now, off after `ms` (0: the relay's own length); the length used.
    uint Pulse(uint relay, uint ms);
    void Start(const QString& port);
    void Stop();
    // Pauses all schedules (false: they run again); Error.Busy without any.
    void PauseSchedules(bool paused);
    // The coming week's switching times as JSON, as GET /api/schedule.
    QString Schedule();

private:
    void announceChange(const RelayChange& change);
    // Carries the command out; false, with the error sent, when refused.
    bool run(const RelayCommand::Made& made);

    RelayOperations& relays_;
    QDBusConnection bus_{QString()};
    bool ownsName_ = false;
};

} // namespace relais
