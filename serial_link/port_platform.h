#pragma once

#include <QSerialPort>
#include <QString>
#include <QStringList>

#include <optional>

// What the serial port means on this system: which device is COM n, and
// what the system's answers mean. One implementation per platform.
namespace relais::port_platform {

// The devices behind COM 1, COM 2, ... as they are now: entry n-1 for
// COM n, empty where COM n has no device; the list may end early.
QStringList devicesInComOrder();

// Why a port number has no device, in the system's words.
QString noDeviceReason();

// A failure found before or right after opening: its CommError number and
// the system's reason.
struct Refusal {
    int number;
    QString reason;
};

// Asked before opening `device`: is it there, and may it be opened?
std::optional<Refusal> checkBeforeOpen(const QString& device);

// Right after opening: whether another program that locks ports holds it.
std::optional<Refusal> claim(QSerialPort& port);

// Waits until the system has sent what it holds for the port.
bool drainSystem(QSerialPort& port);
// Whether the system holds nothing more to send, without waiting.
bool systemSentAll(QSerialPort& port);

// An error on an open port: the reason the line is lost, or nothing when
// the error passes (the system takes no more for the moment). `savedErrno`
// is errno as it was when the port reported the error.
std::optional<QString> lostLineReason(QSerialPort& port, QSerialPort::SerialPortError error,
                                      int savedErrno);

} // namespace relais::port_platform
