#pragma once

#include <QByteArray>
#include <QString>

#include <stdexcept>

namespace relais {

// Numbered errors raised by the serial control.
enum CommErrorNumber : int {
    kErrPortNotFound = 8002,     // the chosen port does not exist
    kErrPortInUse = 8005,        // another program holds the port
    kErrPermissionDenied = 8101, // the user may not open the device
    kErrOpenFailed = 8102,       // any other failure to open
    kErrLineLost = 8103,         // the line went away while open
    kErrInvalidSettings = 8104,  // malformed line settings text
    kErrInvalidValue = 8105,     // a property value out of range
    kErrPortIsOpen = 8106,       // port or settings changed while open
};

class CommError : public std::runtime_error {
public:
    CommError(int number, QString device, QString reason)
        : std::runtime_error((device + QStringLiteral(": ") + reason).toStdString()),
          number_(number), device_(std::move(device)), reason_(std::move(reason)) {}

    int number() const { return number_; }
    // The device path (or "COM n" when no device stands behind it).
    const QString& device() const { return device_; }
    // The system's own words for what went wrong.
    const QString& reason() const { return reason_; }

private:
    int number_;
    QString device_;
    QString reason_;
};

// The serial communications control: the only way to the port.
// Every operation may throw CommError.
class SerialControl {
public:
    virtual ~SerialControl() = default;

    // Port 1..8 used by the next opening; only while closed.
    virtual void setCommPort(int port) = 0;
    virtual int CommPort() const = 0;

    // "baud,parity,databits,stopbits", e.g. "9600,n,8,1"; only while closed.
    virtual void setSettings(const QString& settings) = 0;
    virtual QString Settings() const = 0;

    // true opens (8002, 8005, ... on failure), false closes.
    virtual void setPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;

    // Sends the bytes in order. Ignored while closed; raises the line-lost
    // error once after the line went away.
    virtual void setOutput(const QByteArray& data) = 0;

    // 0 discards what is still waiting from before the last Output; the
    // data of that Output still goes out whole.
    virtual void setOutBufferCount(int count) = 0;
};

} // namespace relais
