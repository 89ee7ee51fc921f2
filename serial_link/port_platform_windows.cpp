// Serial ports on Windows: COM n is the system's COMn, and the system's
// error codes mean other things than errno does on Unix.

#include "port_platform.h"

#include "port_resolver.h"
#include "serial_control.h"

#include <iterator>
#include <string>

#include <windows.h>

namespace relais::port_platform {

namespace {

QString systemReason(DWORD code) {
    return qt_error_string(int(code));
}

bool comPortExists(int number) {
    const std::wstring name = L"COM" + std::to_wstring(number);
    wchar_t target[512];
    return QueryDosDeviceW(name.c_str(), target, DWORD(std::size(target))) != 0;
}

} // namespace

QStringList devicesInComOrder() {
    QStringList devices;
    for (int n = 1; n <= kPortCount; ++n) {
        devices << (comPortExists(n) ? QStringLiteral("COM%1").arg(n) : QString());
    }
    return devices;
}

QString noDeviceReason() {
    return systemReason(ERROR_FILE_NOT_FOUND);
}

std::optional<Refusal> checkBeforeOpen(const QString&) {
    return std::nullopt; // opening tells all, in Windows' own words
}

std::optional<Refusal> claim(QSerialPort&) {
    return std::nullopt; // Windows itself keeps every other program out
}

bool drainSystem(QSerialPort& port) {
    // For a COM port this returns once the driver's transmit queue is empty.
    return FlushFileBuffers(port.handle()) != FALSE;
}

bool systemSentAll(QSerialPort& port) {
    DWORD errors = 0;
    COMSTAT status{};
    return ClearCommError(port.handle(), &errors, &status) != FALSE && status.cbOutQue == 0;
}

std::optional<QString> lostLineReason(QSerialPort& port, QSerialPort::SerialPortError error, int) {
    // A write to a line that went away fails with whatever its driver says:
    // a pulled USB adapter gives ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND,
    // ERROR_OPERATION_ABORTED or ERROR_ACCESS_DENIED, a vanished device
    // ERROR_NOT_READY. While the link runs, any of them is a lost line.
    // Windows queues writes rather than refusing them, so none passes.
    switch (error) {
    case QSerialPort::ResourceError:
    case QSerialPort::PermissionError:
    case QSerialPort::ReadError:
    case QSerialPort::WriteError:
    case QSerialPort::UnknownError:
        return port.errorString();
    default:
        return std::nullopt;
    }
}

} // namespace relais::port_platform
