#include "frame_sender.h"

#include "link_control.h"
#include "qt_serial_control.h"
#include "relay_panel.h"

#include <QCoreApplication>
#include <QTimer>

namespace relais {

int sendFrames(const PortSpec& port, quint16 mask, bool hold, QTextStream& err) {
    SystemPortResolver resolver;
    QtSerialControl serial(resolver);
    const QByteArray frame = commandFrame(QString::number(mask));
    const auto report = [&](const CommError& error) {
        err << messageFor(error) << Qt::endl;
        return exitCodeFor(error.number());
    };
    try {
        if (port.number > 0) {
            serial.setPortNumber(port.number);
        } else {
            serial.setDevice(port.device);
        }
        serial.setSettings(kLineSettings);
        serial.open();
        serial.write(frame);
        serial.discardPending();
        if (!hold) {
            if (!serial.drain(5000)) {
                throw CommError(
                    kErrLineLost, serial.device(),
                    QStringLiteral("Das Telegramm hat die Schnittstelle nicht verlassen"));
            }
            serial.close();
            return kExitOk;
        }
    } catch (const CommError& error) {
        return report(error);
    }

    int code = kExitOk;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    const auto send = [&] {
        try {
            serial.write(frame);
            serial.discardPending();
        } catch (const CommError& error) {
            code = report(error);
            QCoreApplication::quit();
        }
    };
    QObject::connect(&timer, &QTimer::timeout, send);
    timer.start(100);
    QCoreApplication::exec();
    serial.close(); // nothing is sent on the way out
    return code;
}

} // namespace relais
