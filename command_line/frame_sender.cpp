#include "frame_sender.h"

#include "link_control.h"
#include "qt_serial_control.h"
#include "relay_panel.h"

namespace relais {

int sendFrames(const PortSpec& port, quint16 mask, QTextStream& err) {
    SystemPortResolver resolver;
    QtSerialControl serial(resolver);
    const QByteArray frame = commandFrame(QString::number(mask));
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
        if (!serial.drain(5000)) {
            throw CommError(kErrLineLost, serial.device(),
                            QStringLiteral("Das Telegramm hat die Schnittstelle nicht verlassen"));
        }
        serial.close();
        return kExitOk;
    } catch (const CommError& error) {
        err << messageFor(error) << Qt::endl;
        return exitCodeFor(error.number());
    }
}

} // namespace relais
