#pragma once

#include <QObject>

#include <initializer_list>

class QSocketNotifier;

namespace relais {

// Turns Unix signals into a Qt signal on the main thread, so that the
// program can close its port and end as "Beenden" does. Nothing elsewhere.
class SignalWatcher : public QObject {
    Q_OBJECT

public:
    SignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);

signals:
    void received(int signalNumber);

private:
    QSocketNotifier* notifier_ = nullptr;
};

} // namespace relais
