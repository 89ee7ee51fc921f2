#pragma once

#include <QObject>

namespace relais {

// Tells the main thread that the program is asked to end from outside: on
// Unix SIGINT, SIGTERM and SIGHUP; on Windows Ctrl+C or Ctrl+Break in its
// console, its console closing, and the user logging off or the system
// shutting down. The program then closes its port and ends as "Beenden"
// does. Whoever handles `requested` must close the port before returning:
// at the end of a Windows session the process may be ended right after.
class ShutdownWatcher : public QObject {
    Q_OBJECT

public:
    explicit ShutdownWatcher(QObject* parent = nullptr);
    ~ShutdownWatcher() override;

signals:
    void requested();
};

} // namespace relais
