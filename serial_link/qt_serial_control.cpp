#include "qt_serial_control.h"

#include <QDeadlineTimer>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>
#endif

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

QString systemReason(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Whether the device behind an open port has gone (hung up or removed).
bool deviceGone(const QSerialPort& port) {
#ifdef Q_OS_UNIX
    pollfd p{int(port.handle()), POLLOUT, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
#else
    Q_UNUSED(port);
    return true;
#endif
}

bool isIoError(QSerialPort::SerialPortError error) {
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::UnknownError:
        return true;
    default:
        return false;
    }
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
    throw CommError(number, device_.isEmpty() ? QStringLiteral("COM %1").arg(portNumber_) : device_,
                    reason);
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
        fail(kErrPortNotFound, systemReason(ENODEV));
    }
    device_ = *device;

#ifdef Q_OS_UNIX
    if (!QFileInfo::exists(device_)) {
        fail(kErrPortNotFound, systemReason(ENOENT));
    }
    // QSerialPort reports "no permission" and "in use" alike; ask the system first.
    if (::access(device_.toLocal8Bit().constData(), R_OK | W_OK) != 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM || err == EROFS) {
            fail(kErrPermissionDenied, systemReason(err));
        }
        fail(err == ENOENT || err == ENODEV || err == ENXIO ? kErrPortNotFound : kErrOpenFailed,
             systemReason(err));
    }
#endif

    port_.setPortName(device_);
    applySettings();
    if (!port_.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = port_.error();
        const QString reason = port_.errorString();
        port_.clearError();
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            fail(kErrPortNotFound, reason);
        case QSerialPort::PermissionError:
            // Access was granted above, so the device is taken (lock file or EBUSY).
            fail(kErrPortInUse, reason);
        default:
            fail(kErrOpenFailed, reason);
        }
    }

#ifdef Q_OS_UNIX
    // Also keep out (and respect) programs that lock the device with flock();
    // the lock goes with the descriptor when the port closes.
    if (::flock(port_.handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close();
        fail(kErrPortInUse, systemReason(EBUSY));
    }
#endif
    writtenSinceDiscard_ = false;
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
#ifdef Q_OS_UNIX
    // What the system still holds; a few bytes at most, so this ends.
    if (isOpen() && ::tcdrain(int(port_.handle())) != 0) {
        return false;
    }
#endif
    return isOpen();
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
    // The port reports a write the system refuses for now (a stalled line)
    // as an error too: only a device that hung up, or a real failure, is a
    // lost line.
    const bool gone = isIoError(error) && deviceGone(port_);
    if (!gone && (!isIoError(error) || err == EAGAIN || err == EWOULDBLOCK || err == EINTR)) {
        port_.clearError();
        return;
    }
    lost_ = true;
    lossPending_ = true;
    // After a hang-up the port's own text may name a stale errno.
    lossReason_ = gone ? systemReason(EIO) : port_.errorString();
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
