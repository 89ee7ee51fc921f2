#include "qt_serial_control.h"

#include "port_platform.h"

#include <QDeadlineTimer>

#include <cerrno>

namespace relais {

namespace {

QSerialPort::Parity toQt(LineSettings::Parity p) {
    switch (p) {
    case LineSettings::Parity::None:
        return QSerialPort::NoParity;
    case LineSettings::Parity::Even:
        return QSerialPort::EvenParity;
    case LineSettings::Parity::Odd:
        return QSerialPort::OddParity;
    case LineSettings::Parity::Mark:
        return QSerialPort::MarkParity;
    case LineSettings::Parity::Space:
        return QSerialPort::SpaceParity;
    }
    return QSerialPort::NoParity;
}

QSerialPort::StopBits toQt(LineSettings::StopBits s) {
    switch (s) {
    case LineSettings::StopBits::One:
        return QSerialPort::OneStop;
    case LineSettings::StopBits::OneAndHalf:
        return QSerialPort::OneAndHalfStop;
    case LineSettings::StopBits::Two:
        return QSerialPort::TwoStop;
    }
    return QSerialPort::OneStop;
}

} // namespace

QtSerialControl::QtSerialControl(const PortResolver& resolver, QObject* parent)
    : QObject(parent), resolver_(resolver) {
    // The unit's own output is of no interest, but must not pile up.
    port_.setReadBufferSize(1024);
    connect(&port_, &QSerialPort::readyRead, this, [this] { port_.readAll(); });
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialControl::onPortError);
    connect(&port_, &QSerialPort::bytesWritten, this, &QtSerialControl::writeWaiting);
}

QtSerialControl::~QtSerialControl() {
    close();
}

void QtSerialControl::setPortNumber(int port) {
    if (isOpen()) {
        fail(kErrPortIsOpen, QStringLiteral("port is open"));
    }
    if (port < 1 || port > 255) {
        fail(kErrInvalidValue, QStringLiteral("invalid port number %1").arg(port));
    }
    portNumber_ = port;
    chosenDevice_.clear();
}

void QtSerialControl::setDevice(const QString& device) {
    if (isOpen()) {
        fail(kErrPortIsOpen, QStringLiteral("port is open"));
    }
    chosenDevice_ = device;
}

void QtSerialControl::setSettings(const QString& settings) {
    if (isOpen()) {
        fail(kErrPortIsOpen, QStringLiteral("port is open"));
    }
    const auto parsed = parseLineSettings(settings);
    if (!parsed) {
        fail(kErrInvalidSettings, QStringLiteral("invalid settings \"%1\"").arg(settings));
    }
    settings_ = *parsed;
}

void QtSerialControl::fail(int number, const QString& reason) {
    throw CommError(number, device_.isEmpty() ? comName(portNumber_) : device_, reason);
}

void QtSerialControl::applySettings() {
    port_.setBaudRate(settings_.baudRate);
    port_.setParity(toQt(settings_.parity));
    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits));
    port_.setStopBits(toQt(settings_.stopBits));
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialControl::close() {
    ++openCount_; // a loss queued for an earlier opening is void now
    lost_ = false;
    lossPending_ = false;
    waiting_.clear();
    if (port_.isOpen()) {
        port_.close();
    }
}

void QtSerialControl::open() {
    if (isOpen()) {
        return;
    }
    close(); // drop the remains of a lost line

    device_.clear();
    const auto device =
        chosenDevice_.isEmpty() ? resolver_.devicePath(portNumber_) : std::optional(chosenDevice_);
    if (!device) {
        fail(kErrPortNotFound, port_platform::noDeviceReason());
    }
    device_ = *device;
    if (const auto refusal = port_platform::checkBeforeOpen(device_)) {
        fail(refusal->number, refusal->reason);
    }

    port_.setPortName(device_);
    applySettings();
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_.error();
        const QString reason = port_.errorString();
        port_.clearError();
        fail(openFailure(error), reason);
    }
    if (const auto refusal = port_platform::claim(port_)) {
        close();
        fail(refusal->number, refusal->reason);
    }
    writtenSinceDiscard_ = false;
}

int QtSerialControl::openFailure(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return kErrPortNotFound;
    case QSerialPort::PermissionError:
        // Not a missing right. On Unix access was checked before opening, so
        // the device is taken (lock file or EBUSY). On Windows this is
        // ERROR_ACCESS_DENIED, how a COM port held by another program answers.
        return kErrPortInUse;
    default:
        return kErrOpenFailed;
    }
}

bool QtSerialControl::isOpen() const {
    return port_.isOpen() && !lost_;
}

void QtSerialControl::write(const QByteArray& data) {
    if (lossPending_) {
        lossPending_ = false;
        fail(kErrLineLost, lossReason_);
    }
    if (!isOpen()) {
        return;
    }
    writtenSinceDiscard_ = true;
    // While the line is behind, only the newest data waits, and it waits
    // here: what the port holds may already be partly on the line and is
    // never cut short, so the far end always gets whole writes.
    if (port_.bytesToWrite() > 0) {
        waiting_ = data;
        return;
    }
    port_.write(data);
    port_.flush(); // hand it to the system now rather than at the next event loop turn
}

bool QtSerialControl::drain(int msecs) {
    QDeadlineTimer deadline(msecs);
    for (;;) {
        writeWaiting();
        if (!isOpen() || (port_.bytesToWrite() == 0 && waiting_.isEmpty())) {
            break;
        }
        if (deadline.hasExpired() || !port_.waitForBytesWritten(int(deadline.remainingTime()))) {
            return false;
        }
    }
    return isOpen() && port_platform::drainSystem(port_);
}

bool QtSerialControl::everythingSent() {
    return isOpen() && port_.bytesToWrite() == 0 && waiting_.isEmpty() &&
           port_platform::systemSentAll(port_);
}

void QtSerialControl::writeWaiting() {
    if (waiting_.isEmpty() || !isOpen() || port_.bytesToWrite() > 0) {
        return;
    }
    port_.write(waiting_);
    waiting_.clear();
    port_.flush();
}

void QtSerialControl::discardPending() {
    // Right after a write only that write's data can be waiting, and it stays.
    if (!writtenSinceDiscard_) {
        waiting_.clear();
    }
    writtenSinceDiscard_ = false;
}

void QtSerialControl::onPortError(QSerialPort::SerialPortError error) {
    const int err = errno; // first, before anything else can change it
    if (error == QSerialPort::NoError || !port_.isOpen() || lost_) {
        return;
    }
    const auto reason = port_platform::lostLineReason(port_, error, err);
    if (!reason) {
        port_.clearError();
        return;
    }
    lost_ = true;
    lossPending_ = true;
    lossReason_ = *reason;
    // Closing inside the port's own error signal is not safe; and until it is
    // closed, the port may repeat the error without pause.
    const quint64 opening = openCount_;
    QMetaObject::invokeMethod(
        this,
        [this, opening] {
            if (opening == openCount_ && port_.isOpen()) {
                waiting_.clear();
                port_.close();
            }
        },
        Qt::QueuedConnection);
    emit lineLost();
}

} // namespace relais
