#include "qt_serial_control.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/file.h>
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

QString systemReason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

bool isLineFailure(QSerialPort::SerialPortError error) {
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
}

QtSerialControl::~QtSerialControl() { setPortOpen(false); }

void QtSerialControl::setCommPort(int port) {
    if (PortOpen()) {
        fail(kErrPortIsOpen, QStringLiteral("port is open"));
    }
    if (port < 1 || port > 255) {
        fail(kErrInvalidValue, QStringLiteral("invalid port number %1").arg(port));
    }
    commPort_ = port;
}

void QtSerialControl::setSettings(const QString& settings) {
    if (PortOpen()) {
        fail(kErrPortIsOpen, QStringLiteral("port is open"));
    }
    const auto parsed = parseLineSettings(settings);
    if (!parsed) {
        fail(kErrInvalidSettings, QStringLiteral("invalid settings \"%1\"").arg(settings));
    }
    settings_ = *parsed;
    settingsText_ = settings;
}

void QtSerialControl::fail(int number, const QString& reason) {
    throw CommError(number, device_.isEmpty() ? QStringLiteral("COM %1").arg(commPort_) : device_,
                    reason);
}

void QtSerialControl::applySettings() {
    port_.setBaudRate(settings_.baudRate);
    port_.setParity(toQt(settings_.parity));
    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits));
    port_.setStopBits(toQt(settings_.stopBits));
    port_.setFlowControl(QSerialPort::NoFlowControl);
}

void QtSerialControl::setPortOpen(bool open) {
    if (!open) {
        ++openCount_; // a loss queued for an earlier opening is void now
        lost_ = false;
        lossPending_ = false;
        queued_.clear();
        if (port_.isOpen()) {
            port_.close();
        }
        return;
    }
    if (PortOpen()) {
        return;
    }
    setPortOpen(false); // drop the remains of a lost line

    device_.clear();
    const auto device = resolver_.devicePath(commPort_);
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
        setPortOpen(false);
        fail(kErrPortInUse, systemReason(EBUSY));
    }
#endif
    outputSinceCount_ = false;
}

bool QtSerialControl::PortOpen() const { return port_.isOpen() && !lost_; }

void QtSerialControl::setOutput(const QByteArray& data) {
    if (lossPending_) {
        lossPending_ = false;
        fail(kErrLineLost, lossReason_);
    }
    if (!PortOpen()) {
        return;
    }
    dropStale();
    port_.write(data);
    queued_.push_back(data);
    port_.flush(); // hand it to the system now rather than at the next event loop turn
    outputSinceCount_ = true;
}

void QtSerialControl::setOutBufferCount(int count) {
    if (count != 0) {
        fail(kErrInvalidValue, QStringLiteral("invalid buffer count %1").arg(count));
    }
    if (!PortOpen()) {
        return;
    }
    // Right after an Output only that Output's data can be waiting, and it stays.
    if (!outputSinceCount_) {
        dropStale();
    }
    outputSinceCount_ = false;
}

void QtSerialControl::dropStale() {
    // Forget the writes the system has taken in full; what is left in
    // queued_ is exactly what still waits in this process.
    qint64 taken = 0;
    for (const QByteArray& w : queued_) {
        taken += w.size();
    }
    taken -= port_.bytesToWrite();
    while (!queued_.empty() && taken >= queued_.front().size()) {
        taken -= queued_.front().size();
        queued_.pop_front();
    }
    if (queued_.empty() || (queued_.size() == 1 && taken > 0)) {
        return; // nothing stale
    }
    // Writes waiting for a slow or stalled line are stale by now. One that
    // has begun on the line is finished, so that the far end never gets
    // half a write followed by the next one.
    QByteArray begun;
    if (taken > 0) {
        begun = queued_.front().mid(taken);
    }
    port_.clear(QSerialPort::Output);
    queued_.clear();
    if (!begun.isEmpty()) {
        port_.write(begun);
        queued_.push_back(begun);
    }
}

void QtSerialControl::onPortError(QSerialPort::SerialPortError error) {
    if (!isLineFailure(error) || !port_.isOpen() || lost_) {
        return;
    }
    lost_ = true;
    lossPending_ = true;
    lossReason_ = port_.errorString();
    // Closing inside the port's own error signal is not safe; and until it is
    // closed, the port may repeat the error without pause.
    const quint64 opening = openCount_;
    QMetaObject::invokeMethod(
        this,
        [this, opening] {
            if (opening == openCount_ && port_.isOpen()) {
                queued_.clear();
                port_.close();
            }
        },
        Qt::QueuedConnection);
    emit lineLost();
}

} // namespace relais
