// Serial ports on Linux and other Unix systems: COM n is the n-th port the
// system reports, and errno tells what went wrong.

#include "port_platform.h"

#include "port_resolver.h"
#include "serial_control.h"

#include <QFileInfo>
#include <QSerialPortInfo>

#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace relais::port_platform {

namespace {

QString systemReason(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

// Whether the device behind an open port has gone (hung up or removed).
bool deviceGone(const QSerialPort& port) {
    pollfd p{int(port.handle()), POLLOUT, 0};
    return ::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
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

QStringList devicesInComOrder() {
    QStringList devices;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo& info : ports) {
        devices << info.systemLocation();
    }
    return orderSerialPorts(devices);
}

QString noDeviceReason() {
    return systemReason(ENODEV);
}

std::optional<Refusal> checkBeforeOpen(const QString& device) {
    if (!QFileInfo::exists(device)) {
        return Refusal{kErrPortNotFound, systemReason(ENOENT)};
    }
    // QSerialPort reports "no permission" and "in use" alike; ask the system first.
    if (::access(device.toLocal8Bit().constData(), R_OK | W_OK) != 0) {
        const int err = errno;
        if (err == EACCES || err == EPERM || err == EROFS) {
            return Refusal{kErrPermissionDenied, systemReason(err)};
        }
        return Refusal{err == ENOENT || err == ENODEV || err == ENXIO ? kErrPortNotFound
                                                                      : kErrOpenFailed,
                       systemReason(err)};
    }
    return std::nullopt;
}

std::optional<Refusal> claim(QSerialPort& port) {
    // Also keep out (and respect) programs that lock the device with flock();
    // the lock goes with the descriptor when the port closes.
    if (::flock(port.handle(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        return Refusal{kErrPortInUse, systemReason(EBUSY)};
    }
    return std::nullopt;
}

bool drainSystem(QSerialPort& port) {
    // What the system still holds; a few bytes at most, so this ends.
    return ::tcdrain(int(port.handle())) == 0;
}

bool systemSentAll(QSerialPort& port) {
    int queued = 0;
    return ::ioctl(int(port.handle()), TIOCOUTQ, &queued) == 0 && queued == 0;
}

std::optional<QString> lostLineReason(QSerialPort& port, QSerialPort::SerialPortError error,
                                      int savedErrno) {
    // The port reports a write the system refuses for now (a stalled line)
    // as an error too: only a device that hung up, or a real failure, is a
    // lost line.
    const bool gone = isIoError(error) && deviceGone(port);
    if (!gone && (!isIoError(error) || savedErrno == EAGAIN || savedErrno == EWOULDBLOCK ||
                  savedErrno == EINTR)) {
        return std::nullopt;
    }
    // After a hang-up the port's own text may name a stale errno.
    return gone ? systemReason(EIO) : port.errorString();
}

} // namespace relais::port_platform
